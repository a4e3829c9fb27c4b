// The browser build in a real browser: Debian's Chromium, headless, driven by playwright-core.
//   node browser_test.cjs --url http://127.0.0.1:PORT --out DIR [--size 640x360] [--shots 9000,30000]
//                         [--only play,faults,bench,picture] [--bench-until 40000]
// play:   the page loads, "click to start" starts the show at a fixed step; the show reaches scene
//         two and scene five and ends by itself; the audio context runs; the pictures asked for
//         and the frame trace are read back from the page into DIR; a page screenshot is kept;
//         nothing is logged to the console as an error.
// faults: Escape ends the show early; a missing archive, a corrupt archive, corrupt music, no
//         WebGL 2 and a lost WebGL context each end in a readable message on the page.
// bench:  the real clock, frames unthrottled, up to --bench-until ms, its trace into DIR.
// picture: the page at 31 s of the show, into DIR/page.jpg.
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
const only = opt('only', 'play,faults');
const benchUntil = opt('bench-until', '40000');
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

async function openPage(browser, query, { noWebGL2 = false } = {}) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 720 } });
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
  await page.goto(base + '/Quorvanteplidusk.html?' + query);
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
  await expectMessage(browser, 'missing archive', 'archive=no-such-archive.vkr');
  await expectMessage(browser, 'corrupt archive', `size=${size}&archive=_faults/corrupt.vkr`, { click: true });
  await expectMessage(browser, 'corrupt music (the show plays on, silent)', `size=${size}&music=_faults/corrupt.ogg`,
                      { click: true, where: 'notice' });
  await expectMessage(browser, 'no WebGL 2', '', { noWebGL2: true });
  await expectMessage(browser, 'lost WebGL context', `size=${size}`, {
    click: true,
    during: async (page) => {
      await page.waitForFunction(() => Module._vk_web_show_time() > 500, null, { timeout: 120000 });
      await page.evaluate(() => {
        const gl = document.getElementById('canvas').getContext('webgl2');
        gl.getExtension('WEBGL_lose_context').loseContext();
      });
    },
  });
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
