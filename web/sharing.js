// Keeping and sharing a battle. A link carries the recording (link.js);
// opening it plays the battle back at the game's pace and then hands it
// over. A recording can also be saved as a file, which kestrel-trace and
// the replay page take.

import { readText, withText } from './module.js';
import { LINK_PREFIX, LinkError, fragmentOf, recordingOf } from './link.js';
import qrcode from './qrcode.mjs';

const PLAYING_BACK = 'Playing back';
const REVOKE_MS = 10000;  // time enough for the browser to take the saved file

// A room's link as a QR code, for a phone's camera: the encoder picks the
// smallest size that holds the link at error correction M (a smudge or a
// glare on the screen still reads), drawn at 4 pixels a module with the
// quiet zone of 4 modules round it that readers look for.
const CODE_CORRECTION = 'M';
const CODE_MODULE_PX = 4;
const CODE_QUIET_MODULES = 4;

function codeOf(link) {
  const code = qrcode(0, CODE_CORRECTION);
  code.addData(link, 'Byte');
  code.make();
  return code.createDataURL(CODE_MODULE_PX, CODE_QUIET_MODULES * CODE_MODULE_PX);
}

export class Sharing {
  // `recording()` gives the battle so far as text; `messages` shows what
  // happened; `closeMenu()` closes the corner control.
  constructor({ game, contract, view, clock, recording, messages, closeMenu }) {
    Object.assign(this, { game, contract, view, clock, recording, messages, closeMenu });
    this.linkField = document.getElementById('link');
    this.linkCode = document.getElementById('link-code');
  }

  // Starts playing a recording back: null, or why it cannot be played.
  playBack(text) {
    const { game } = this;
    const refused = withText(game, text, (at, length) => {
      const reason = game.kestrel_play_back(at, length);
      return reason ? readText(game, reason) : null;
    });
    this.view.showChanges();
    return refused;
  }

  // Plays the battle of the page's link, if it has one; a bad link is
  // dropped, saying why, and the battle under way goes on.
  async openLink() {
    if (!location.hash.startsWith(LINK_PREFIX)) return;
    try {
      const refused = this.playBack(await recordingOf(location.hash, this.contract.maxRecordingBytes));
      if (refused) throw new LinkError(`This battle link cannot be played: ${refused}.`);
      this.messages.say(`${PLAYING_BACK} the battle from the link: it is yours when it ends, or as soon as you ` +
                        'press, tap or type.', true);
    } catch (error) {
      if (!(error instanceof LinkError)) throw error;
      history.replaceState(null, '', location.pathname + location.search);
      this.messages.say(`${error.message} A new battle has begun instead.`);
    }
  }

  // The end of a playback: the battle is the user's.
  handedOver() {
    this.messages.withdraw(PLAYING_BACK);
    window.dispatchEvent(new Event('kestrel-handover'));
  }

  async copyLink() {
    await this.offerLink(`${location.origin}${location.pathname}${await fragmentOf(this.recording())}`,
                         'A link to this battle');
  }

  // Puts `link` on the clipboard, or where it can be copied by hand, saying
  // which; `what` names it ("A link to ..."). A room's link (`asCode`) also
  // shows as a QR code beside the buttons, which stay open for it; a
  // battle's is far too long for one.
  async offerLink(link, what, { asCode = false } = {}) {
    this.linkField.value = link;
    this.linkField.setAttribute('aria-label', what);
    this.linkCode.hidden = !asCode;
    if (asCode) {
      this.linkCode.src = codeOf(link);
      this.linkCode.alt = `${what}, as a QR code`;
    }
    const orCode = asCode ? ', or read its QR code with a phone' : '';
    try {
      await navigator.clipboard.writeText(link);
      if (!asCode) this.closeMenu();
      this.messages.say(`${what} is on the clipboard${asCode ? ', and beside the buttons as a QR code' : ''}.`);
    } catch {
      // No clipboard: a page that is not a secure context (plain http from
      // another device) has none, and a browser may refuse it.
      this.linkField.hidden = false;
      this.linkField.select();
      this.messages.say(`Copy ${what[0].toLowerCase()}${what.slice(1)} from the field under the buttons${orCode}.`);
    }
  }

  saveReplay() {
    const file = new Blob([this.recording()], { type: 'text/plain' });
    const stamp = new Date().toISOString().slice(0, 19).replaceAll(':', '-');
    const save = Object.assign(document.createElement('a'), {
      href: URL.createObjectURL(file), download: `kestrel-battle-${stamp}.trace`,
    });
    save.click();
    this.clock.after(REVOKE_MS, () => URL.revokeObjectURL(save.href));
  }
}
