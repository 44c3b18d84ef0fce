// A battle link carries a recording in its fragment (never sent to a
// server): `#battle=` and the recording compressed (raw deflate) in
// base64url. Nothing here touches the page; node reads links the same way.

import { readText, withText } from './module.js';

export const LINK_PREFIX = '#battle=';

// Why a link cannot be played, in words for the page.
export class LinkError extends Error {}

const CHUNK = 0x8000;  // characters a call of String.fromCharCode takes at once

function toBase64Url(bytes) {
  let binary = '';
  for (let i = 0; i < bytes.length; i += CHUNK) binary += String.fromCharCode(...bytes.subarray(i, i + CHUNK));
  return btoa(binary).replaceAll('+', '-').replaceAll('/', '_').replace(/=+$/, '');
}

function fromBase64Url(text) {
  if (!/^[A-Za-z0-9_-]*$/.test(text) || text.length % 4 === 1) {
    throw new LinkError('This battle link is damaged: it holds characters, or a length, that no battle link has.');
  }
  const binary = atob(text.replaceAll('-', '+').replaceAll('_', '/').padEnd(Math.ceil(text.length / 4) * 4, '='));
  return Uint8Array.from(binary, c => c.charCodeAt(0));
}

// The fragment of a link to `recording`.
export async function fragmentOf(recording) {
  const packed = new Blob([recording]).stream().pipeThrough(new CompressionStream('deflate-raw'));
  return LINK_PREFIX + toBase64Url(new Uint8Array(await new Response(packed).arrayBuffer()));
}

// The recording a link's fragment holds, or a LinkError; unpacking stops as
// soon as it is longer than `maxBytes`, more than any recording the game
// reads.
export async function recordingOf(fragment, maxBytes) {
  if (!fragment.startsWith(LINK_PREFIX)) throw new LinkError('This is not a battle link.');
  const bytes = fromBase64Url(fragment.slice(LINK_PREFIX.length));
  const reader = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('deflate-raw')).getReader();
  const parts = [];
  let length = 0;
  try {
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      parts.push(value);
      length += value.length;
      if (length > maxBytes) {
        reader.cancel().catch(() => {});
        throw new LinkError('This battle link is far too long: no recording the game plays back is that long.');
      }
    }
  } catch (error) {
    if (error instanceof LinkError) throw error;
    throw new LinkError('This battle link is cut short or damaged: its recording does not unpack.');
  }
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(await new Blob(parts).arrayBuffer());
  } catch {
    throw new LinkError('This battle link is damaged: its recording is not text.');
  }
}

// A room link names a live room on the server that served the page:
// `#live=ID.KEY` plays in it, `#watch=ID` watches it. The game module reads
// and writes them (game/RoomLink.h), as the window and the server do.

// The room a link names (the page's address and its fragment): { id, key
// (null for watching), socket (the room's socket on the link's server:
// wss beside https, ws beside http), play (for a player), watch (the links
// to it on the same page) }; null for a link whose fragment names no room;
// a LinkError for a room link that is damaged. A player's seat token
// (`seatToken`, kept from an earlier connection) goes with the socket's
// address, to take that seat back.
export function readRoomLink(game, link, seatToken = '') {
  const at = withText(game, link, (text, length) =>
    withText(game, seatToken, (token, tokenLength) => game.kestrel_room_link(text, length, token, tokenLength)));
  if (!at) return null;
  const room = JSON.parse(readText(game, at, game.kestrel_text_length()));
  if (room.error !== undefined) throw new LinkError(`This room link is damaged: ${room.error}.`);
  return room;
}
