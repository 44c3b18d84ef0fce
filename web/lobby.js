// Rooms open to anyone, on every server behind this page's address:
// "Play with anyone" (a free seat in the fullest public room, or a new
// public room), "Battles now" (the public rooms playing, their seats,
// watchers, leading score and age) and a seat taken from that list. The
// server that answers may send the page to a room on another server, which
// the page then asks for a seat; the list is a hint and the room the
// truth, so a room found full is tried again, a few times, before the page
// opens a room of its own: the module's search (game/AnyoneSearch.h),
// which the window makes too; the page only makes its requests. Nothing
// here touches the page's elements, so node drives it with a made-up fetch.

import { readContract, readText, withText } from './module.js';
import { refusalOfResponse, secondsToWait, whyRefused } from './room.js';

// How often an open list of battles is asked for again.
export const BATTLES_EVERY_MS = 2000;

const json = { 'content-type': 'application/json' };

// A public room's play link, from "Play with anyone": resolves to
// { play, watch, room }, or throws an Error whose message says why (in
// words for the page). `fetch` is the browser's.
export async function playWithAnyone(game, { size, fetch }) {
  const search = game.kestrel_anyone_start(size.width, size.height);
  try {
    for (;;) {
      const step = JSON.parse(readText(game, game.kestrel_anyone_next(search)));
      if (step.error) throw new Error(step.error);
      if (step.links) return step.links;
      const { method, path, body } = step.request;
      await answerSearch(game, search, await fetch(path, { method, headers: json, body }));
    }
  } finally {
    game.kestrel_anyone_end(search);
  }
}

// Hands the search the answer: a refusal's body is not read, and of a long
// answer only enough to show it too long.
async function answerSearch(game, search, response) {
  const { refusalHeader, maxAnyoneAnswerBytes } = readContract(game);
  const body = response.ok ? (await response.text()).slice(0, maxAnyoneAnswerBytes + 1) : '';
  const wait = secondsToWait(response.headers.get('retry-after'), Date.now()) ?? -1;
  withText(game, response.headers.get(refusalHeader) ?? '', (token, tokenLength) =>
    withText(game, body, (at, length) =>
      game.kestrel_anyone_answer(search, response.status, token, tokenLength, at, length, wait)));
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
