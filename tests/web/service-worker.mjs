// The service worker as the build writes it (web/ServiceWorker.cmake), for
// a site on disk: its cache name and its files, and writing it afresh.

import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const WEB = fileURLToPath(new URL('../../web/', import.meta.url));
const CMAKE = process.env.KESTREL_CMAKE || 'cmake';

// The cache name and the files kept ('./' aside) of SITE/sw.js.
export function readServiceWorker(site) {
  const text = fs.readFileSync(path.join(site, 'sw.js'), 'utf8');
  const cache = text.match(/^const CACHE = '([^']+)';$/m)?.[1];
  const files = text.match(/^const FILES = \[(.*)\];$/m)?.[1].split(',').map(file => file.trim().slice(1, -1));
  if (!cache || !files || files[0] !== './') throw new Error(`${site}/sw.js names no cache or no files`);
  return { cache, files: files.slice(1) };
}

// Writes SITE/sw.js for `files` of the site, as the build does.
export function writeServiceWorker(site, files) {
  execFileSync(CMAKE, [`-DSITE=${site}`, `-DTEMPLATE=${path.join(WEB, 'sw.js.in')}`, `-DFILES=${files.join(',')}`,
                       '-P', path.join(WEB, 'ServiceWorker.cmake')], { stdio: ['ignore', 'ignore', 'inherit'] });
  return readServiceWorker(site);
}
