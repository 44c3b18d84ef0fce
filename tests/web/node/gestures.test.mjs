// Fingers to the game's actions (web/gestures.js), with the times given:
// a tap is a left click even if the finger wobbles within the slop, a move
// beyond it a drag; a finger held half a second is the right button; two
// fingers that tap together are Enter; anything else, nothing.

import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { TouchGestures } from '../../../web/gestures.js';

// The rules, as the page's help and the window's controls have them.
const SLOP = 10;
const LONG_PRESS_MS = 500;
const TWO_FINGER_TAP_MS = 500;

// The actions of a run of events, each [type, id, x, y, time] (a 'time'
// event needs only its time).
function play(events, gestures = new TouchGestures()) {
  return events.flatMap(([type, id, x, y, time]) =>
    gestures.handle(type === 'time' ? { type, time: id } : { type, id, x, y, time }));
}
const press = (button, x, y) => ({ type: 'press', button, x, y });
const release = (button, x, y) => ({ type: 'release', button, x, y });
const move = (x, y) => ({ type: 'move', x, y });
const ENTER = { type: 'key', key: 'Enter' };

describe('one finger', () => {
  test('a tap is a click of the left button: pressed where it touched, released where it lifted', () => {
    assert.deepEqual(play([['down', 1, 100, 200, 0], ['up', 1, 100, 200, 80]]),
                     [press('left', 100, 200), release('left', 100, 200)]);
  });

  test('a finger that wobbles within the slop still taps; just beyond it, it drags', () => {
    // 6, 8: 10 away, on the slop's edge.
    const wobble = [['down', 1, 100, 200, 0], ['move', 1, 103, 204, 20], ['move', 1, 106, 208, 40], ['move', 1, 101, 199, 60]];
    assert.deepEqual(play([...wobble, ['up', 1, 104, 203, 90]]), [press('left', 100, 200), release('left', 104, 203)]);
    const beyond = Math.sqrt(SLOP ** 2 / 2) + 0.01;  // a diagonal just over the slop
    assert.deepEqual(play([['down', 1, 100, 200, 0], ['move', 1, 100 + beyond, 200 + beyond, 20],
                           ['up', 1, 100 + beyond, 200 + beyond, 40]]),
                     [press('left', 100, 200), move(100 + beyond, 200 + beyond), release('left', 100 + beyond, 200 + beyond)]);
    assert.deepEqual(play([['down', 1, 100, 200, 0], ['move', 1, 100, 200 - SLOP - 0.01, 20]]),
                     [press('left', 100, 200), move(100, 200 - SLOP - 0.01)]);
  });

  test('a drag is the left button pressed where it first touched, every move after, and the release', () => {
    assert.deepEqual(play([['down', 1, 50, 60, 0], ['move', 1, 58, 66, 10], ['move', 1, 70, 60, 20], ['move', 1, 72, 62, 30],
                           ['up', 1, 80, 61, 40]]),
                     [press('left', 50, 60), move(70, 60), move(72, 62), release('left', 80, 61)]);
  });

  test('once dragging, a moment\'s stillness is no long press, and a wobble back within the slop no tap', () => {
    assert.deepEqual(play([['down', 1, 0, 0, 0], ['move', 1, 20, 0, 10], ['time', 1000], ['move', 1, 2, 0, 1100],
                           ['up', 1, 2, 0, 1200]]),
                     [press('left', 0, 0), move(20, 0), move(2, 0), release('left', 2, 0)]);
  });

  test('held still for half a second, the right button, released wherever the finger lifts', () => {
    const gestures = new TouchGestures();
    assert.deepEqual(play([['down', 1, 30, 40, 1000], ['move', 1, 33, 44, 1200]], gestures), []);
    assert.equal(gestures.wakeAt, 1000 + LONG_PRESS_MS);
    assert.deepEqual(play([['time', 1000 + LONG_PRESS_MS - 1]], gestures), [], 'not yet');
    assert.deepEqual(play([['time', 1000 + LONG_PRESS_MS]], gestures), [press('right', 30, 40)]);
    assert.equal(gestures.wakeAt, null);
    assert.deepEqual(play([['move', 1, 34, 41, 1600], ['move', 1, 200, 300, 1700], ['up', 1, 210, 305, 1800]], gestures),
                     [move(34, 41), move(200, 300), release('right', 210, 305)]);
  });

  test('the long press comes first however late its time is handed over', () => {
    assert.deepEqual(play([['down', 1, 30, 40, 0], ['up', 1, 31, 40, LONG_PRESS_MS]]),
                     [press('right', 30, 40), release('right', 31, 40)]);
    assert.deepEqual(play([['down', 1, 30, 40, 0], ['move', 1, 90, 40, LONG_PRESS_MS + 5]]),
                     [press('right', 30, 40), move(90, 40)]);
    assert.deepEqual(play([['down', 1, 30, 40, 0], ['up', 1, 30, 40, LONG_PRESS_MS - 1]]),
                     [press('left', 30, 40), release('left', 30, 40)]);
  });

  test('a finger the browser takes away clicks nothing, and ends a drag as a release would', () => {
    assert.deepEqual(play([['down', 1, 10, 10, 0], ['cancel', 1, 10, 10, 50]]), []);
    assert.deepEqual(play([['down', 1, 10, 10, 0], ['move', 1, 40, 10, 20], ['cancel', 1, 45, 12, 50]]),
                     [press('left', 10, 10), move(40, 10), release('left', 45, 12)]);
  });

  test('events of no finger down are left alone, and each gesture starts afresh', () => {
    const gestures = new TouchGestures();
    assert.deepEqual(play([['move', 4, 10, 10, 0], ['up', 4, 10, 10, 5], ['time', 900]], gestures), []);
    assert.equal(play([['down', 1, 0, 0, 0], ['move', 1, 50, 0, 10], ['up', 1, 50, 0, 20]], gestures).length, 3);
    assert.deepEqual(play([['down', 2, 5, 5, 30], ['up', 2, 5, 5, 40]], gestures), [press('left', 5, 5), release('left', 5, 5)]);
  });
});

describe('two fingers and more', () => {
  const tap = (liftedAt, moves = []) => play([['down', 1, 100, 300, 0], ['down', 2, 200, 320, 10], ...moves,
                                              ['up', 1, 100, 300, liftedAt - 10], ['up', 2, 200, 320, liftedAt]]);

  test('two fingers that touch and lift together, within the slop, are Enter', () => {
    assert.deepEqual(tap(TWO_FINGER_TAP_MS), [ENTER]);
    assert.deepEqual(tap(200, [['move', 2, 205, 326, 50], ['move', 1, 104, 297, 60]]), [ENTER]);
  });

  test('held too long, moved apart, cancelled, or joined by a third finger, they are nothing', () => {
    assert.deepEqual(tap(TWO_FINGER_TAP_MS + 1), []);
    assert.deepEqual(tap(200, [['move', 2, 260, 380, 50]]), [], 'a pinch');
    assert.deepEqual(tap(200, [['move', 1, 100, 300 + SLOP + 1, 50]]), []);
    assert.deepEqual(play([['down', 1, 100, 300, 0], ['down', 2, 200, 320, 10], ['up', 1, 100, 300, 50],
                           ['cancel', 2, 200, 320, 60]]), []);
    assert.deepEqual(play([['down', 1, 100, 300, 0], ['down', 2, 200, 320, 10], ['down', 3, 50, 50, 20],
                           ['up', 1, 100, 300, 50], ['up', 2, 200, 320, 60], ['up', 3, 50, 50, 70]]), []);
  });

  test('a second finger never starts a long press, and is left alone during a drag or an order', () => {
    const gestures = new TouchGestures();
    play([['down', 1, 100, 300, 0], ['down', 2, 200, 320, 10]], gestures);
    assert.equal(gestures.wakeAt, null);
    assert.deepEqual(play([['time', 2000], ['up', 1, 100, 300, 2100], ['up', 2, 200, 320, 2200]], gestures), []);
    assert.deepEqual(play([['down', 1, 0, 0, 0], ['move', 1, 30, 0, 10], ['down', 2, 90, 90, 20], ['move', 2, 150, 90, 30],
                           ['up', 2, 150, 90, 40], ['move', 1, 40, 0, 50], ['up', 1, 40, 0, 60]]),
                     [press('left', 0, 0), move(30, 0), move(40, 0), release('left', 40, 0)]);
    assert.deepEqual(play([['down', 1, 0, 0, 0], ['time', LONG_PRESS_MS], ['down', 2, 90, 90, 600], ['up', 2, 90, 90, 650],
                           ['up', 1, 5, 5, 700]]),
                     [press('right', 0, 0), release('right', 5, 5)]);
  });
});
