// The browser build in a real browser: Debian's Chromium, headless, driven by playwright-core.
//   node browser_test.cjs --url http://127.0.0.1:PORT --out DIR [--size 640x360] [--shots 9000,30000]
//                         [--only play,faults,loading,controls,bench,picture,download] [--bench-until 40000]
// play:     the page loads, "click to start" starts the show at a fixed step; the show reaches
//           scene two and scene five and ends by itself; the audio context runs; the pictures asked
//           for and the frame trace are read back from the page into DIR; a page screenshot is
//           kept; nothing is logged to the console as an error.
// faults:   Escape ends the show early; a corrupt archive, corrupt music and no WebGL 2 each end
//           in a readable message on the page; a lost WebGL context that comes back plays on.
// loading:  served by web/test/fault_server.py (--url must be one): each file missing, cut off or
//           stalled, a file:// page and a page without JavaScript end in a message instead of the
//           loading text; missing music plays silently with a notice; a host without lengths gives
//           an indeterminate bar, never a made-up total; the page fits a 320 px phone; the bytes
//           on the wire are reported.
// controls: the control bar and the keys pause, seek and mute; after each the music stays within a
//           frame of the show's clock (read from the page's sound requests); ?t=MS starts there.
// bench:    the real clock, frames unthrottled, up to --bench-until ms, its trace into DIR.
// picture:  the page at 31 s of the show, into DIR/page.jpg.
// download: bytes on the wire and the time to "Click to start" at 10 Mbit/s (a benchmark).
'use strict';
const fs = require('fs');
const path = require('path');
const { chromium } = require(process.env.VK_PLAYWRIGHT_CORE || 'playwright-core');

const argv = process.argv.slice(2);
const opt = (name, fallback) => {
  const i = argv.indexOf('--' + name);
  return i >= 0 ? argv[i + 1] : fallback;
};
const base = opt('url');
const out = opt('out', '.');
const size = opt('size', '640x360');
const shots = opt('shots', '9000,30000,55000,75000,97000').split(',');
const only = opt('only', 'play,faults,loading,controls');
const benchUntil = opt('bench-until', '40000');
const runDir = opt('run-dir', '');  // the served folder (for the file:// check)
const executablePath = process.env.VK_CHROMIUM || '/usr/bin/chromium';
const gl = process.env.VK_CHROMIUM_GL || 'angle-gl-egl';
fs.mkdirSync(out, { recursive: true });

const glFlags = gl === 'swiftshader'
  ? ['--use-angle=swiftshader', '--enable-unsafe-swiftshader']
  : ['--use-gl=angle', '--use-angle=gl-egl', '--ignore-gpu-blocklist'];

let failures = 0;
const check = (ok, what) => {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failures++;
};

// routes: [pattern, handler] pairs in place before the page loads (it asks for its files at once).
async function openPage(browser, query, { noWebGL2 = false, prefix = '', viewport, javaScript = true, url, routes = [] } = {}) {
  const context = await browser.newContext({ viewport: viewport || { width: 1280, height: 720 },
                                             javaScriptEnabled: javaScript });
  const page = await context.newPage();
  const errors = [];
  page.on('console', (m) => {
    if (m.type() === 'error') errors.push(m.text());
    if (process.env.VK_WEB_VERBOSE) console.log('  [page] ' + m.text());
  });
  page.on('pageerror', (e) => errors.push('uncaught: ' + e.message));
  if (noWebGL2) {
    await page.addInitScript(() => {
      const original = HTMLCanvasElement.prototype.getContext;
      HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {
        return kind === 'webgl2' ? null : original.call(this, kind, ...rest);
      };
    });
  }
  for (const [pattern, handler] of routes) await page.route(pattern, handler);
  await page.goto(url || base + prefix + '/Quorvanteplidusk.html?' + query);
  return { context, page, errors };
}

async function start(page) {
  await page.locator('#start').waitFor({ state: 'visible', timeout: 120000 });
  await page.click('#start');
}

const showTime = (page) => page.evaluate(() => Module._vk_web_show_time());
const showState = (page) => page.evaluate(() => Module._vk_web_state());
const messageOf = (page) => page.evaluate(() => document.getElementById('message').textContent);

async function waitForEnd(page, limitMs, onTick) {
  const t0 = Date.now();
  let lastLog = 0;
  while (Date.now() - t0 < limitMs) {
    const state = await showState(page);
    if (state === 2) return true;
    const t = await showTime(page);
    if (onTick) await onTick(t);
    if (Date.now() - lastLog > 10000) {
      console.log('  show time ' + t + ' ms after ' + Math.round((Date.now() - t0) / 1000) + ' s');
      lastLog = Date.now();
    }
    await page.waitForTimeout(250);
  }
  return false;
}

async function readFile(page, file) {
  const bytes = await page.evaluate((f) => {
    try { return Array.from(Module.FS.readFile(f)); } catch (e) { return null; }
  }, file);
  return bytes ? Buffer.from(bytes) : null;
}

async function play(browser) {
  const query = `fixed-step=40&seed=1&size=${size}&trace=/shots/trace.jsonl&` +
                shots.map((s) => 'screenshot=' + s).join('&');
  const { context, page, errors } = await openPage(browser, query);
  await start(page);
  await page.waitForFunction(() => Module._vk_web_state() >= 1 && Module._vk_web_show_time() >= 0,
                             null, { timeout: 120000 });
  await page.waitForTimeout(1500);
  const audio = await page.evaluate(() => {
    const ctx = Module.SDL2 && Module.SDL2.audioContext;
    return ctx ? { state: ctx.state, time: ctx.currentTime } : null;
  });
  check(audio && audio.state === 'running', 'the audio context runs (' + JSON.stringify(audio) + ')');
  let pageShot = false;
  const ended = await waitForEnd(page, 20 * 60 * 1000, async (t) => {
    if (!pageShot && t >= 33000) {
      pageShot = true;
      await page.screenshot({ path: path.join(out, 'page.png') });
    }
  });
  check(ended, 'the show ends by itself');
  const code = await page.evaluate(() => Module._vk_web_exit_code());
  check(code === 0, 'exit status 0 (' + code + ')');
  check((await messageOf(page)) === '', 'no message on the page');
  const status = await page.evaluate(() => document.getElementById('status').textContent);
  check(status === 'The show has ended.', 'the page says the show has ended ("' + status + '")');
  const trace = await readFile(page, '/shots/trace.jsonl');
  check(!!trace, 'the frame trace is read back');
  if (trace) {
    fs.writeFileSync(path.join(out, 'trace.jsonl'), trace);
    const frames = trace.toString().split('\n').filter((l) => l.trim()).map((l) => JSON.parse(l));
    const scenes = new Set(frames.map((f) => f.scene));
    check(scenes.has(2), 'the show reaches scene two');
    check(scenes.has(5), 'the show reaches scene five');
    console.log('  ' + frames.length + ' frames, last show time ' + frames[frames.length - 1].time + ' ms');
  }
  for (const s of shots) {
    const png = await readFile(page, '/shots/' + s + '.png');
    check(!!png, 'picture at ' + s + ' ms read back');
    if (png) fs.writeFileSync(path.join(out, 'web-' + s + '.png'), png);
  }
  check(errors.length === 0, 'no console errors' + (errors.length ? ': ' + errors.join(' | ') : ''));
  await context.close();
}

async function expectMessage(browser, what, query, { click = false, noWebGL2 = false, during, where = 'message' } = {}) {
  const { context, page } = await openPage(browser, query, { noWebGL2 });
  if (click) await start(page);
  if (during) await during(page);
  let text = '';
  try {
    await page.waitForFunction((id) => document.getElementById(id).textContent !== '', where,
                               { timeout: 120000 });
    text = await page.evaluate((id) => document.getElementById(id).textContent, where);
  } catch (e) {}
  const visible = await page.isVisible('#' + where);
  check(text !== '' && visible, what + ': "' + text.replace(/\s+/g, ' ') + '"');
  await context.close();
}

// Escape ends the show early, as natively; the page then says so and offers to play again.
async function escape(browser) {
  const { context, page, errors } = await openPage(browser, `size=${size}`);
  await start(page);
  await page.waitForFunction(() => Module._vk_web_show_time() > 1000, null, { timeout: 120000 });
  await page.keyboard.press('Escape');
  let ended = false;
  try {
    await page.waitForFunction(() => Module._vk_web_state() === 2, null, { timeout: 30000 });
    ended = true;
  } catch (e) {}
  const status = await page.evaluate(() => document.getElementById('status').textContent);
  const again = await page.isVisible('#again');
  check(ended && status === 'The show has ended.' && again && errors.length === 0,
        'Escape ends the show ("' + status + '", play again offered: ' + again + ')' +
        (errors.length ? ' errors: ' + errors.join(' | ') : ''));
  await context.close();
}

async function faults(browser) {
  await escape(browser);
  await expectMessage(browser, 'corrupt archive', `size=${size}&archive=_faults/corrupt.vkr`, { click: true });
  await expectMessage(browser, 'corrupt music (the show plays on, silent)', `size=${size}&music=_faults/corrupt.ogg`,
                      { click: true, where: 'notice' });
  await expectMessage(browser, 'no WebGL 2', '', { noWebGL2: true });
  await lostContext(browser);
}

// A lost WebGL context: the page says so and the show waits where it is; once the browser gives
// the context back, the device is reset through the engine's lost-device path and the show plays
// on from that moment, drawing again (a picture the show itself reads back after the restore).
async function lostContext(browser) {
  const shot = 8000;
  const { context, page, errors } = await openPage(browser, `size=${size}&seed=1&screenshot=${shot}`);
  const printed = [];
  page.on('console', (m) => printed.push(m.type() + ': ' + m.text()));
  let shown = false;
  const expect = (ok, what) => {
    check(ok, what);
    if (!ok && !shown) {
      shown = true;
      console.log('  what the page printed:\n    ' + printed.join('\n    '));
    }
  };
  await start(page);
  await page.waitForFunction(() => Module._vk_web_show_time() > 3000 && !Module._vk_web_holding(), null,
                             { timeout: 120000 });
  const base = await measureSync(page);
  await page.evaluate(() => {
    window.vkLoseContext = document.getElementById('canvas').getContext('webgl2').getExtension('WEBGL_lose_context');
    window.vkLoseContext.loseContext();
  });
  let noticed = true;
  try {
    await page.waitForFunction(() => !document.getElementById('notice').hidden && Module._vk_web_paused() === 0 &&
                               document.getElementById('notice').textContent !== '', null, { timeout: 30000 });
  } catch (e) {
    noticed = false;
  }
  const lostAt = await showTime(page);
  expect(noticed, 'a lost context is a notice on the page: "' +
         (await page.evaluate(() => document.getElementById('notice').textContent)).replace(/\s+/g, ' ') + '"');
  await page.waitForTimeout(2500);
  const still = await showTime(page);
  expect(still === lostAt, 'while the context is lost the show waits (' + lostAt + ' -> ' + still + ' ms)');

  const frames = await page.evaluate(() => Module._vk_web_frames());
  const restoredAt = Date.now();
  await page.evaluate(() => window.vkLoseContext.restoreContext());
  let advanced = true;
  try {
    await page.waitForFunction((f) => Module._vk_web_frames() > f + 30, frames, { timeout: 120000 });
  } catch (e) {
    advanced = false;
  }
  const t = await showTime(page);
  const wall = Date.now() - restoredAt;
  expect(advanced && (await showState(page)) === 1, 'frames advance after the restore (state ' +
         (await showState(page)) + ', ' + ((await page.evaluate(() => Module._vk_web_frames())) - frames) + ' frames)');
  // From where it was: no more show time than wall time since the restore (plus the part of a frame
  // begun before the loss), where a clock that ran on while lost would be 2.5 s ahead.
  expect(t > lostAt && t - lostAt <= wall + 500,
         'the show time goes on from where it was (' + lostAt + ' ms at the loss, ' + t + ' ms ' + wall +
         ' ms after the restore)');
  expect(await page.evaluate(() => document.getElementById('notice').hidden), 'the notice goes with the restore');
  await page.waitForFunction(() => !Module._vk_web_holding() && !Module._vk_web_paused(), null, { timeout: 120000 });
  const m = await measureSync(page);
  // The first frames after the restore build the programs again while the music plays, which can
  // leave the music a frame or two from the picture (reported); a clock or music that ran on while
  // the context was away would be the whole 2.5 s off.
  const frame = Math.max(1000 / 60, base.frameMs, m.frameMs, m.blockMs);
  expect(m.samples >= 10 && Math.abs(m.offset - base.offset) <= 250,
         'after the restore the music is ' + (m.offset - base.offset).toFixed(1) + ' ms from where it was (one frame ' +
         frame.toFixed(1) + ' ms; a music that ran on would be 2500 ms off)');

  let lit = -1;
  try {
    await page.waitForFunction((s) => Module._vk_web_show_time() > s + 500, shot, { timeout: 120000 });
    lit = await page.evaluate(async (file) => {
      const png = Module.FS.readFile(file);
      const image = await createImageBitmap(new Blob([png], { type: 'image/png' }));
      const c = document.createElement('canvas');
      c.width = image.width, c.height = image.height;
      const g = c.getContext('2d');
      g.drawImage(image, 0, 0);
      const px = g.getImageData(0, 0, c.width, c.height).data;
      let n = 0;
      for (let i = 0; i < px.length; i += 4) n += Math.max(px[i], px[i + 1], px[i + 2]) > 40;
      return n / (px.length / 4);
    }, '/shots/' + shot + '.png');
  } catch (e) {
    printed.push('reading the picture: ' + e);
  }
  expect(lit > 0.05, 'the picture at ' + shot + ' ms, after the restore, is drawn (' +
         (lit * 100).toFixed(1) + ' % of it lit)');
  expect(errors.length === 0, 'no console errors' + (errors.length ? ': ' + errors.join(' | ') : ''));
  await context.close();
}

// ---- Loading: every way a download can fail ends in words, never in an endless bar.

const pageText = (page) => page.evaluate(() => ({
  status: document.getElementById('status').textContent,
  message: document.getElementById('message').textContent,
  bar: !document.getElementById('bar').hidden,
  retry: !document.getElementById('retry').hidden,
  start: !document.getElementById('start').hidden,
}));

// Waits until the page has failed or is ready; what it then shows.
async function settle(page, timeout = 60000) {
  try {
    await page.waitForFunction(() => !document.getElementById('start').hidden ||
                               document.getElementById('message').textContent !== '', null, { timeout });
  } catch (e) {}
  return pageText(page);
}

async function loadFault(browser, fault, expect, query = '') {
  const { context, page } = await openPage(browser, query, { prefix: '/_fault/' + fault });
  const t = await settle(page);
  const ok = !t.start && !t.bar && !/Loading/.test(t.status) && expect.test(t.message) &&
             t.message.includes('Quorvanteplidusk.');
  check(ok, fault + ': "' + t.status + ' ' + t.message.replace(/\s+/g, ' ') + '"' + (t.retry ? ' [Try again]' : ''));
  await context.close();
  return t;
}

async function loading(browser) {
  // Missing and broken files: each by its name, with "Try again" where it can help.
  for (const ext of ['js', 'wasm', 'ttf', 'vkr']) {
    const t = await loadFault(browser, ext + '.404', /404/);
    check(!t.retry, ext + '.404: no "Try again" for a file that is not there');
  }
  check((await loadFault(browser, 'wasm.500', /500/)).retry, 'wasm.500: "Try again" offered');
  for (const ext of ['wasm', 'vkr']) {
    check((await loadFault(browser, ext + '.drop', /cut off|incomplete|connection/)).retry, ext + '.drop: "Try again" offered');
  }
  check((await loadFault(browser, 'vkr.stall', /stopped arriving/, 'stall=1500')).retry, 'vkr.stall: "Try again" offered');
  // A host that sends no length and cuts the program short: the build's own sizes tell.
  await loadFault(browser, 'wasm.nolength-cut', /incomplete/);

  // Not WebAssembly at all (a host's error page under the right name).
  {
    const { context, page } = await openPage(browser, 'wasm=Quorvanteplidusk.html');
    const t = await settle(page);
    check(/damaged/.test(t.message) && t.retry && !t.bar, 'a wasm that is not WebAssembly: "' + t.message.slice(0, 80) + '"');
    await context.close();
  }

  // Missing music: the show plays without sound and says so.
  {
    const { context, page } = await openPage(browser, `size=${size}`, { prefix: '/_fault/ogg.404' });
    await start(page);
    let text = '';
    try {
      await page.waitForFunction(() => !document.getElementById('notice').hidden, null, { timeout: 120000 });
      await page.waitForFunction(() => Module._vk_web_show_time() > 500, null, { timeout: 120000 });
      text = await page.evaluate(() => document.getElementById('notice').textContent);
    } catch (e) {}
    check(/music/.test(text) && /without sound/.test(text) && (await showState(page)) === 1,
          'missing music: the show plays with a notice ("' + text + '")');
    await context.close();
  }

  // Music still on its way: "Click to start" comes without it, a click waits for it with its own
  // progress, and the show starts once it is in, with sound. The music is held back here until
  // the page has shown that, so no timing decides the outcome.
  {
    let release = null;
    const held = new Promise((resolve) => { release = resolve; });
    const { context, page } = await openPage(browser, `size=${size}`, {
      routes: [['**/Quorvanteplidusk.ogg', async (route) => { await held; await route.continue(); }]] });
    await start(page);
    const waiting = await pageText(page);
    const before = await showState(page);
    release();
    let started = false;
    try {
      await page.waitForFunction(() => Module._vk_web_show_time() > 500, null, { timeout: 120000 });
      started = true;
    } catch (e) {}
    const notice = await page.evaluate(() => document.getElementById('notice').hidden ? '' :
                                       document.getElementById('notice').textContent);
    check(/music/.test(waiting.status) && waiting.bar && before === 0 && started && !/music/.test(notice),
          'music still arriving: ready without it, a click waits for it ("' + waiting.status + '", show state ' +
          before + '), then plays with it' + (notice ? ' (notice: ' + notice + ')' : ''));
    await context.close();
  }

  // A host without Content-Length, slowly: an indeterminate bar, never a total smaller than
  // what arrived; then ready.
  {
    const context = await browser.newContext({ viewport: { width: 1280, height: 720 } });
    const page = await context.newPage();
    await page.addInitScript(() => {
      window.__seen = [];
      document.addEventListener('DOMContentLoaded', () => {
        const bar = document.getElementById('bar'), status = document.getElementById('status');
        new MutationObserver(() => window.__seen.push({ text: status.textContent,
          indeterminate: bar.classList.contains('indeterminate') }))
          .observe(status, { childList: true, characterData: true, subtree: true });
      });
    });
    await page.goto(base + '/_fault/all.slow/Quorvanteplidusk.html');
    const t = await settle(page, 120000);
    const seen = await page.evaluate(() => window.__seen);
    const lies = seen.filter((s) => {
      const m = /([\d.]+) \/ ([\d.]+) MB/.exec(s.text);
      return m && Number(m[2]) < Number(m[1]);
    });
    const unknown = seen.filter((s) => /^Loading… [\d.]+ MB$/.test(s.text) && s.indeterminate);
    check(t.start && lies.length === 0 && unknown.length > 0,
          'no Content-Length: indeterminate bar (' + unknown.length + ' updates), no made-up total (' +
          lies.map((l) => l.text).join(', ') + '), then ready');
    await context.close();
  }

  // Opened as a file, and without JavaScript.
  if (runDir) {
    const { context, page } = await openPage(browser, '', { url: 'file://' + runDir + '/Quorvanteplidusk.html' });
    const t = await settle(page, 20000);
    check(/web server/.test(t.status) && /run\.sh web/.test(t.message) && !t.bar, 'file:// : "' + t.status + '"');
    await context.close();
  }
  {
    const { context, page } = await openPage(browser, '', { javaScript: false });
    const text = await page.evaluate(() => document.body.innerText);
    const noscript = await page.isVisible('noscript p');
    check(noscript && /needs JavaScript/.test(text) && !/Loading/.test(text), 'no JavaScript: "' +
          text.replace(/\s+/g, ' ').slice(0, 90) + '"');
    await context.close();
  }

  // A phone, 320 px wide: nothing cut off on the start screen or the control bar.
  {
    const { context, page } = await openPage(browser, `size=${size}`, { viewport: { width: 320, height: 568 } });
    await page.locator('#start').waitFor({ state: 'visible', timeout: 120000 });
    const cut = async () => page.evaluate(() => {
      const out = [];
      for (const el of document.querySelectorAll('h1, #status, #flash, #start, #controls button, #controls input, #time')) {
        const r = el.getBoundingClientRect();
        if (!r.width || getComputedStyle(el).display === 'none' || el.closest('[hidden]')) continue;
        if (r.left < 0 || r.right > innerWidth + 0.5 || el.scrollWidth > el.clientWidth + 1) out.push(el.id || el.tagName);
      }
      return out;
    });
    const before = await cut();
    const flash = await page.evaluate(() => ({ text: document.getElementById('flash').innerText,
      href: document.getElementById('gentle').getAttribute('href') }));
    check(/flashing lights/.test(flash.text) && /[?&]gentle(&|$)/.test(flash.href),
          'the flashing-light notice before the start, with a gentle link (' + flash.href + ')');
    await start(page);
    await page.waitForFunction(() => Module._vk_web_show_time() > 200 && !document.getElementById('controls').hidden,
                               null, { timeout: 120000 });
    await page.mouse.move(100, 100);
    const after = await cut();
    check(before.length === 0 && after.length === 0, 'the page fits 320 px (cut off: ' + before.concat(after).join(', ') + ')');
    await page.screenshot({ path: path.join(out, 'phone-320.png') });
    await context.close();
  }

  await reportBytes(browser, null);
}

// Bytes on the wire for a first visit (and, throttled, the time until "Click to start", which
// comes before the music has arrived; the bytes are counted once it has).
async function reportBytes(browser, throttle) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 720 } });
  const page = await context.newPage();
  const cdp = await context.newCDPSession(page);
  await cdp.send('Network.enable');
  await cdp.send('Network.setCacheDisabled', { cacheDisabled: true });
  if (throttle) {
    await cdp.send('Network.emulateNetworkConditions', { offline: false, latency: throttle.latency,
      downloadThroughput: throttle.bitsPerSecond / 8, uploadThroughput: throttle.bitsPerSecond / 8 });
  }
  const bytes = new Map();
  let musicIn = null;
  const music = new Promise((resolve) => { musicIn = resolve; });
  cdp.on('Network.responseReceived', (e) => bytes.set(e.requestId, { url: e.response.url, size: 0 }));
  const finished = (e) => {
    const entry = bytes.get(e.requestId);
    if (!entry) return;
    entry.size = e.encodedDataLength || 0;
    if (/\.ogg$/.test(entry.url)) musicIn();
  };
  cdp.on('Network.loadingFinished', finished);
  cdp.on('Network.loadingFailed', finished);
  const t0 = Date.now();
  await page.goto(base + '/Quorvanteplidusk.html');
  await page.locator('#start').waitFor({ state: 'visible', timeout: 600000 });
  const seconds = (Date.now() - t0) / 1000;
  await music;
  const allSeconds = (Date.now() - t0) / 1000;
  let total = 0;
  for (const { url, size: n } of bytes.values()) {
    total += n;
    console.log('  ' + String(n).padStart(9) + '  ' + url.replace(/^.*\//, ''));
  }
  console.log('  ' + String(total).padStart(9) + '  bytes on the wire' +
              (throttle ? ', "Click to start" after ' + seconds.toFixed(1) + ' s at ' + throttle.bitsPerSecond / 1e6 +
                          ' Mbit/s, the music in after ' + allSeconds.toFixed(1) + ' s' : ''));
  await context.close();
  return { total, seconds };
}

// ---- Controls: pause, seek and mute, with the music kept to the show's clock.

const median = (a) => { const s = [...a].sort((x, y) => x - y); return s.length ? s[s.length >> 1] : NaN; };

// Heard minus shown (ms) over the next `ms` of playing, and the frame length meanwhile.
async function measureSync(page, ms = 1500) {
  const since = await page.evaluate(() => performance.now());
  const t0 = await page.evaluate(() => Module._vk_web_show_time());
  const f0 = await page.evaluate(() => Module._vk_web_frames());
  await page.waitForTimeout(ms);
  const r = await page.evaluate((s) => Module.vkSyncOffsets(s), since);
  const t1 = await page.evaluate(() => Module._vk_web_show_time());
  const f1 = await page.evaluate(() => Module._vk_web_frames());
  const blockMs = await page.evaluate(() => (Module.vkSoundBlockMs ? Module.vkSoundBlockMs() : 0));
  return { offset: median(r), samples: r.length, frameMs: f1 > f0 ? (t1 - t0) / (f1 - f0) : Infinity, blockMs };
}

async function controlsPart(browser) {
  const { context, page, errors } = await openPage(browser, `size=${size}&seed=1`);
  await start(page);
  await page.waitForFunction(() => Module._vk_web_show_time() > 3000, null, { timeout: 120000 });
  const base0 = await measureSync(page);
  check(base0.samples >= 10, 'the music\'s requests are read (' + base0.samples + ', heard - shown ' + base0.offset.toFixed(1) + ' ms)');
  // The show's clock is what the page hears: the two agree to within a frame (or one sound request).
  const frame0 = Math.max(1000 / 60, base0.frameMs, base0.blockMs);
  check(Math.abs(base0.offset) <= frame0, 'heard and shown agree: ' + base0.offset.toFixed(1) + ' ms (one frame ' + frame0.toFixed(1) + ' ms)');
  const within = async (what, action) => {
    await action();
    await page.waitForFunction(() => !Module._vk_web_holding() && !Module._vk_web_paused(), null, { timeout: 120000 });
    const m = await measureSync(page);
    // Against what is heard, not against an earlier measurement: the show's clock follows the
    // sound, known to within one frame of the picture or one sound request, whichever is longer.
    const frame = Math.max(1000 / 60, base0.frameMs, m.frameMs, m.blockMs);
    check(m.samples >= 10 && Math.abs(m.offset) <= frame,
          what + ': heard - shown ' + m.offset.toFixed(1) + ' ms (one frame ' + frame.toFixed(1) + ' ms)');
  };
  // Pause by key, wait, resume by the bar's button.
  await within('pause and resume', async () => {
    await page.keyboard.press('Space');
    await page.waitForFunction(() => Module._vk_web_paused() === 1, null, { timeout: 30000 });
    const t = await showTime(page);
    await page.waitForTimeout(700);
    check((await showTime(page)) === t, 'paused: the show\'s clock stands still');
    await page.mouse.move(300, 300);
    await page.click('#play');
  });
  let before = await showTime(page);
  await within('5 s forward', async () => {
    await page.keyboard.press('ArrowRight');
    await page.waitForFunction((t) => Module._vk_web_show_time() >= t, before + 5000, { timeout: 60000 });
  });
  check((await showTime(page)) >= before + 5000, 'ArrowRight jumps 5 s (' + before + ' -> ' + (await showTime(page)) + ')');
  before = await showTime(page);
  await within('5 s back', async () => {
    await page.keyboard.press('ArrowLeft');
    await page.waitForFunction((t) => Module._vk_web_show_time() < t, before, { timeout: 60000 });
  });
  const back = await showTime(page);
  check(back < before && back > before - 5000 + 100 - 3000, 'ArrowLeft jumps back 5 s (' + before + ' -> ' + back + ')');
  // The slider: a jump to a scene mark.
  await within('seek by the slider', async () => {
    await page.mouse.move(300, 300);
    await page.evaluate(() => {
      const s = document.getElementById('seek');
      s.value = String(Module._vk_web_scene_start(2) + 2000);
      s.dispatchEvent(new Event('change'));
    });
    await page.waitForFunction(() => Module._vk_web_show_time() >= Module._vk_web_scene_start(2) + 2000, null, { timeout: 60000 });
  });
  // One mark where each scene after the first starts, placed at its start on the slider.
  const marks = await page.evaluate(() => {
    const length = Module._vk_web_show_length();
    const want = [];
    for (let i = 1; Module._vk_web_scene_start(i) > 0; ++i) want.push(((100 * Module._vk_web_scene_start(i)) / length).toFixed(3));
    const have = Array.from(document.querySelectorAll('#marks > span'), (m) => parseFloat(m.style.left).toFixed(3));
    return { want, have };
  });
  check(marks.want.length > 0 && JSON.stringify(marks.have) === JSON.stringify(marks.want),
        'the slider shows a mark at each scene\'s start (' + marks.have.join(', ') + ' / ' + marks.want.join(', ') + ')');
  await page.keyboard.press('m');
  check((await page.evaluate(() => Module._vk_web_volume())) === 0, 'M mutes');
  await page.keyboard.press('m');
  await page.mouse.move(300, 300);
  await page.evaluate(() => {
    const v = document.getElementById('volume');
    v.value = '40';
    v.dispatchEvent(new Event('input'));
  });
  check((await page.evaluate(() => Module._vk_web_volume())) === 40, 'the volume slider sets the volume');
  await within('back to the start (Home)', async () => {
    await page.keyboard.press('Home');
    await page.waitForFunction(() => Module._vk_web_show_time() < 3000, null, { timeout: 60000 });
  });
  check((await showTime(page)) < 6000, 'Home goes back to the start');
  console.log('  music released after each hold: ' + (await page.evaluate(() => Module.vkSyncReleases())).join(', '));
  check(errors.length === 0, 'no console errors' + (errors.length ? ': ' + errors.join(' | ') : ''));
  await context.close();

  // ?t=MS: the show starts at that moment, in step with its music.
  {
    const { context, page } = await openPage(browser, `size=${size}&seed=1&t=47000`);
    await start(page);
    await page.waitForFunction(() => Module._vk_web_state() === 1 && Module._vk_web_show_time() >= 0, null, { timeout: 120000 });
    const first = await showTime(page);
    // The replay stops at the last frame before the moment asked for.
    check(first >= 46900 && first < 52000, '?t=47000 starts there (' + first + ')');
    await page.waitForFunction(() => !Module._vk_web_holding(), null, { timeout: 60000 });
    const m = await measureSync(page);
    // One frame of the picture, or of the sound where its requests are longer: the show's clock
    // follows what is heard, which is known to within one sound request.
    const frame = Math.max(1000 / 60, base0.frameMs, m.frameMs, m.blockMs);
    check(m.samples >= 10 && Math.abs(m.offset - base0.offset) <= frame,
          '?t: music ' + (m.offset - base0.offset).toFixed(1) + ' ms from a run from the start (one frame ' + frame.toFixed(1) + ' ms)');
    await context.close();
  }
}

async function bench(browser) {
  const { context, page, errors } = await openPage(browser,
    `size=${size}&unthrottled=1&until=${benchUntil}&trace=/shots/bench.jsonl`);
  await start(page);
  const ended = await waitForEnd(page, 10 * 60 * 1000);
  check(ended, 'the measured run ends at ' + benchUntil + ' ms');
  const trace = await readFile(page, '/shots/bench.jsonl');
  if (trace) fs.writeFileSync(path.join(out, 'bench.jsonl'), trace);
  check(!!trace && errors.length === 0, 'the measured run traced without console errors ' + errors.join(' | '));
  await context.close();
}

// The page as a visitor sees it (for the README): paced by the display, at a fixed step.
async function picture(browser) {
  const { context, page } = await openPage(browser, `size=${size}&fixed-step=40&seed=1`);
  await start(page);
  await page.waitForFunction(() => Module._vk_web_show_time() >= 31000, null, { timeout: 600000, polling: 100 });
  await page.screenshot({ path: path.join(out, 'page.jpg'), type: 'jpeg', quality: 85 });
  await page.screenshot({ path: path.join(out, 'page.png') });
  await context.close();
}

(async () => {
  const browser = await chromium.launch({
    executablePath,
    headless: true,
    args: ['--headless=new', '--no-sandbox', '--autoplay-policy=no-user-gesture-required',
           '--disable-background-timer-throttling', '--disable-renderer-backgrounding', ...glFlags],
  });
  try {
    for (const part of only.split(',')) {
      console.log('---- ' + part);
      if (part === 'play') await play(browser);
      else if (part === 'faults') await faults(browser);
      else if (part === 'bench') await bench(browser);
      else if (part === 'picture') await picture(browser);
      else if (part === 'loading') await loading(browser);
      else if (part === 'controls') await controlsPart(browser);
      else if (part === 'download') await reportBytes(browser, { bitsPerSecond: 10e6, latency: 20 });
    }
  } finally {
    await browser.close();
  }
  console.log(failures ? failures + ' check(s) failed' : 'all browser checks passed');
  process.exit(failures ? 1 : 0);
})().catch((e) => {
  console.log('FAIL ' + (e && e.stack || e));
  process.exit(1);
});
