// Keeping and sharing a battle. A link carries the recording (link.js);
// opening it plays the battle back at the game's pace and then hands it
// over. A recording can also be saved as a file, which kestrel-trace and
// the replay page take.

import { readText, withText } from './module.js';
import { LINK_PREFIX, LinkError, fragmentOf, recordingOf } from './link.js';

const PLAYING_BACK = 'Playing back';
const REVOKE_MS = 10000;  // time enough for the browser to take the saved file

export class Sharing {
  // `recording()` gives the battle so far as text; `messages` shows what
  // happened; `closeMenu()` closes the corner control.
  constructor({ game, contract, view, clock, recording, messages, closeMenu }) {
    Object.assign(this, { game, contract, view, clock, recording, messages, closeMenu });
    this.linkField = document.getElementById('link');
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
  // which; `what` names it ("A link to ...").
  async offerLink(link, what) {
    this.linkField.value = link;
    this.linkField.setAttribute('aria-label', what);
    try {
      await navigator.clipboard.writeText(link);
      this.closeMenu();
      this.messages.say(`${what} is on the clipboard.`);
    } catch {
      this.linkField.hidden = false;
      this.linkField.select();
      this.messages.say(`Copy ${what[0].toLowerCase()}${what.slice(1)} from the field under the buttons.`);
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
