// The page's clock and the battle's timer. Every wait of the page goes
// through a clock: now() in milliseconds, and every(ms, fn) and after(ms,
// fn), each returning a function that cancels it. The page runs on the
// browser's timers, or on a clock handed to it before its scripts run
// (window.kestrel.clock), which then decides when each tick comes.

export const browserClock = {
  now: () => performance.now(),
  every(ms, fn) {
    const id = setInterval(fn, ms);
    return () => clearInterval(id);
  },
  after(ms, fn) {
    const id = setTimeout(fn, ms);
    return () => clearTimeout(id);
  },
};

// The battle's timer runs only while the page is seen: a hidden page's
// timers are slowed by the browser, and the battle would crawl on unseen.
// Shown again, it goes on at its own pace; nothing is caught up. Once
// stopped (the game has ended), it never runs again.
export class Ticker {
  #cancel = null;
  #stopped = false;

  constructor(clock, periodMs, tick, page = document) {
    this.clock = clock;
    this.periodMs = periodMs;
    this.tick = tick;
    this.page = page;
    page.addEventListener('visibilitychange', () => (page.hidden ? this.#pause() : this.#run()));
    this.#run();
  }

  stop() {
    this.#stopped = true;
    this.#pause();
  }

  #run() {
    if (this.#cancel === null && !this.#stopped && !this.page.hidden) {
      this.#cancel = this.clock.every(this.periodMs, this.tick);
    }
  }

  #pause() {
    this.#cancel?.();
    this.#cancel = null;
  }
}
