// Rooms open to anyone, on every server behind this page's address:
// "Play with anyone" (a free seat in the fullest public room, or a new
// public room), "Battles now" (the public rooms playing, their seats,
// watchers, leading score and age) and a seat taken from that list. The
// server that answers may send the page to a room on another server, which
// the page then asks for a seat; the list is a hint and the room the
// truth, so a room found full is tried again, a few times, before the page
// opens a room of its own. Nothing here touches the page's elements, so
// node drives it with a made-up fetch.

import { refusalOfResponse, whyRefused } from './room.js';

// Tries at a public room before the page opens one of its own.
export const ANYONE_TRIES = 3;
// How often an open list of battles is asked for again.
export const BATTLES_EVERY_MS = 2000;

const json = { 'content-type': 'application/json' };

// A public room's play link, from "Play with anyone" or a seat in a listed
// room: resolves to { play, watch, room }, or throws an Error whose
// message says why (in words for the page). `fetch` is the browser's.
export async function playWithAnyone(game, { size, fetch }) {
  for (let attempt = 0; attempt <= ANYONE_TRIES; ++attempt) {
    const own = attempt === ANYONE_TRIES;
    const response = await fetch(own ? '/rooms/anyone?new=1' : '/rooms/anyone',
                                 { method: 'POST', headers: json, body: JSON.stringify(size) });
    if (!response.ok) throw new Error(whyRefused(game, response));
    const answer = await response.json();
    if (answer.play) return answer;
    const seated = await takeSeat(game, answer.seat, fetch);
    if (seated.links) return seated.links;
    if (!seated.full) throw new Error(seated.why);
  }
  throw new Error('no room could be opened');
}

// A seat in the public room whose seat request is at `path`: { links },
// or { full: true } when its seats were all taken, or { why }.
export async function takeSeat(game, path, fetch) {
  const response = await fetch(path, { method: 'POST', headers: json, body: '{}' });
  if (response.ok) return { links: await response.json() };
  const refusal = refusalOfResponse(game, response);
  if (refusal?.token === 'seats-taken') return { full: true, why: refusal.words };
  return { why: whyRefused(game, response) };
}

// One entry of the list, in words: its seats, watchers, leading score and
// how long it has run. The rooms carry no names: each is numbered.
export function describeBattle(entry, index) {
  const seats = `${entry.seats_taken} of ${entry.seats_taken + entry.seats_free} seats taken`;
  const watchers = entry.watchers === 1 ? '1 watching' : `${entry.watchers} watching`;
  const { kills, wins } = entry.leader;
  const leader = kills + wins === 0 ? 'no score yet'
    : `leading ${wins} ${wins === 1 ? 'win' : 'wins'}, ${kills} ${kills === 1 ? 'kill' : 'kills'}`;
  return `Battle ${index + 1}: ${seats}, ${watchers}, ${leader}, ${age(entry.seconds)}`;
}

function age(seconds) {
  if (seconds < 60) return 'just begun';
  const minutes = Math.floor(seconds / 60);
  if (minutes < 60) return `${minutes} min`;
  return `${Math.floor(minutes / 60)} h ${minutes % 60} min`;
}

// What the list says above its entries: none, or that it may lack other
// servers' rooms.
export function battlesNote({ whole, rooms }) {
  if (!whole) return 'This list may be incomplete: only this server\'s rooms could be listed just now.';
  return rooms.length === 0 ? 'No battle is open to anyone just now.' : '';
}
