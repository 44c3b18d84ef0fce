// The help line, the page's messages and the corner control.

// The help line fades after the first action, or after this long; a
// message goes after this long unless it lasts.
const HELP_MS = 6000;
const MESSAGE_MS = 10000;

// `tank` names the player's own tank: the blue one, or in a room the seat's.
const HELP = {
  mouse: tank => `Drag a tank with the left button. Release the left button over a tank: your ${tank} tank ` +
                 'goes after it; the right button: every tank does. Any letter: new battle. Esc: end.',
  touch: tank => `Drag a tank with a finger. Tap a tank: your ${tank} tank goes after it. Hold a tank, then let ` +
                 'go over a tank: every tank goes after it. Tap with two fingers: new battle.',
};
const WATCHING_HELP = 'You are watching this room: its players move the tanks. Esc: leave it.';

// The help line, worded for the device: shown on load and whenever the
// corner control opens, gone after the first action or a few seconds. It
// never takes a pointer event (CSS), so nothing is in its way.
export class Help {
  #cancelFade = null;

  constructor(element, clock, byTouch) {
    this.element = element;
    this.clock = clock;
    this.byTouch = byTouch;
    this.tankName = 'blue';
  }

  // This screen's tank, by its colour's name (null: watching); the line
  // shown says so at once.
  set tank(name) {
    if (name === this.tankName) return;
    this.tankName = name;
    this.#write();
  }
  get tank() {
    return this.tankName;
  }

  #write() {
    this.element.firstElementChild.textContent =
      this.tankName === null ? WATCHING_HELP : HELP[this.byTouch ? 'touch' : 'mouse'](this.tankName);
  }

  show(lasting) {
    this.#write();
    this.element.classList.remove('faded');
    this.#cancelFade?.();
    this.#cancelFade = lasting ? null : this.clock.after(HELP_MS, () => this.hide());
  }

  hide() {
    this.#cancelFade?.();
    this.#cancelFade = null;
    this.element.classList.add('faded');
  }
}

// A line at the bottom of the page, for a while or until replaced.
export class Messages {
  #cancelHide = null;

  constructor(element, clock) {
    this.element = element;
    this.clock = clock;
  }

  say(text, lasting = false) {
    this.element.textContent = text;
    this.element.hidden = false;
    this.#cancelHide?.();
    this.#cancelHide = lasting ? null : this.clock.after(MESSAGE_MS, () => { this.element.hidden = true; });
  }

  // Takes the message away if it starts with `start`.
  withdraw(start) {
    if (this.element.textContent.startsWith(start)) this.element.hidden = true;
  }
}

// The corner control: help again, and what the keyboard and the right
// button do, by touch too. Its pointer events stay its own. `choices` has a
// function for each of its buttons: newBattle, end, copyLink, saveReplay,
// playTogether, playWithAnyone, battlesNow, openToAnyone, copyWatchLink.
// `onClose` runs when it closes.
export class Menu {
  constructor(document, help, choices) {
    this.corner = document.getElementById('corner');
    this.more = document.getElementById('more');
    this.actions = document.getElementById('actions');
    this.endButton = document.getElementById('end-game');
    this.help = help;
    this.more.addEventListener('click', () => this.open(this.actions.hidden));
    // A press on the control keeps its pointer until the release, so that
    // a drag off it never reaches the canvas.
    this.corner.addEventListener('pointerdown', event => {
      try {
        event.target.setPointerCapture(event.pointerId);
      } catch {
        // gone already
      }
    });
    for (const type of ['pointerdown', 'pointermove', 'pointerup', 'pointercancel', 'contextmenu']) {
      this.corner.addEventListener(type, event => event.stopPropagation());
    }
    this.corner.addEventListener('keydown', event => {
      if (event.key === 'Escape') this.open(false);
    });
    const choose = (id, choice, closes = true) => document.getElementById(id).addEventListener('click', () => {
      if (closes) this.open(false);
      choice();
    });
    choose('new-battle', choices.newBattle);
    choose('end-game', choices.end);
    choose('copy-link', choices.copyLink, false);  // closed once the link is on the clipboard
    choose('save-replay', choices.saveReplay);
    choose('play-together', choices.playTogether, false);  // open on its link's QR code
    choose('play-anyone', choices.playWithAnyone, false);
    choose('battles-now', choices.battlesNow, false);
    choose('open-to-anyone', choices.openToAnyone, false);
    choose('copy-watch-link', choices.copyWatchLink, false);
    this.onClose = () => {};
  }

  // The page came from a server that keeps rooms: one can be opened, or
  // found among those open to anyone.
  offerRooms() {
    for (const id of ['play-together', 'play-anyone', 'battles-now']) document.getElementById(id).hidden = false;
  }

  // The page is in a room: its watch link can be passed on.
  inRoom() {
    document.getElementById('copy-watch-link').hidden = false;
  }

  get isOpen() {
    return !this.actions.hidden;
  }

  open(open) {
    this.actions.hidden = !open;
    this.more.setAttribute('aria-expanded', String(open));
    if (open) this.help.show(true);
    else this.help.hide();
    if (!open) this.onClose();
  }

  // The game has ended: nothing left to end.
  ended() {
    this.endButton.disabled = true;
  }
}
