// The page in real Chromium over a real MIDI system: run inside scripts/alsa-vm
// by scripts/web-chromium-checks. One headless Chromium, granted MIDI with
// SysEx through the DevTools protocol, updates korvane-sim --api alsa through
// its own Web MIDI, and every outcome is held against the Linux korvane-flash's
// update of the same file in the same VM: the controller holds the file, and
// the page's log is korvane-flash's, byte for byte (but for the file's path).
// Last, the controller stops for half a second in a block: the page's update
// still ends in success.
//
//   node update-checks.js SITE SIM FLASH WORK OUT [bench]
//
// Exit status 1 when any check fails. With bench, only a whole update of a
// larger file, and its rate as a ratio of the DIN rate.
'use strict';
const {spawn, spawnSync} = require('child_process');
const fs = require('fs');
const path = require('path');
const {Browser} = require('./cdp');

const [site, sim, flash, work, out, mode] = process.argv.slice(2);
const serve = path.join(__dirname, '..', 'serve.py');
const kDinBytesPerSecond = 3125;  // 31250 baud, 10 bits a byte
let failed = false;
const consoleLog = [];
const begun = Date.now();
const at = () => `[${((Date.now() - begun) / 1000).toFixed(0)} s]`;
const say = (text) => console.log(`web-chromium: ${at()} ${text}`);
const bad = (text) => { console.log(`web-chromium: ${at()} FAILED: ${text}`); failed = true; };
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// A line from a child's stdout that passes test, within ms.
function lineFrom(child, test, ms, what) {
  return new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error(`no ${what} within ${ms} ms`)), ms);
    child.stdout.on('data', (d) => {
      text += d;
      const line = text.split('\n').find(test);
      if (line !== undefined) { clearTimeout(timer); resolve(line); }
    });
  });
}

// A controller on ports named "Korvane Sim", its firmware saved to NAME.fw;
// resolves once it says its ports carry messages.
async function startSim(name, options) {
  const child = spawn(sim, ['--api', 'alsa', '--port', 'Korvane Sim',
                            '--save', `${work}/${name}.fw`, ...options],
                      {stdio: ['ignore', 'pipe', 'pipe']});
  const printed = fs.createWriteStream(`${work}/${name}.sim.out`);
  child.stdout.on('data', (d) => printed.write(d));
  child.stderr.on('data', (d) => printed.write(d));
  child.ended = new Promise((r) => child.on('exit', r));
  await lineFrom(child, (l) => l === 'korvane-sim: ready', 120000, 'korvane-sim: ready');
  return child;
}

// Ends a korvane-sim with SIGTERM, as a user would; one that outlives it by
// 30 s is killed and fails the check.
async function stopSim(child, name) {
  child.kill('SIGTERM');
  const ended = await Promise.race([child.ended.then(() => true), sleep(30000).then(() => false)]);
  if (ended) return;
  bad(`${name}: korvane-sim did not end within 30 s of SIGTERM`);
  child.kill('SIGKILL');
  await child.ended;
}

async function stopSimHolding(child, name, image) {
  await stopSim(child, name);
  const held = fs.existsSync(`${work}/${name}.fw`) ? fs.readFileSync(`${work}/${name}.fw`) : null;
  const file = fs.readFileSync(image);
  if (held && Buffer.compare(held, file) === 0) {
    say(`${name}: the controller holds the file (${file.length} bytes)`);
  } else {
    bad(`${name}: the controller does not hold the file (it has ${held ? held.length : 'no'} bytes)`);
  }
}

// korvane-flash's update of the image: its log, exit status and time, and
// what the controller held at its end.
async function linuxUpdate(name, image, options) {
  const child = await startSim(`${name}-linux`, options);
  const log = `${work}/${name}.linux.log`;
  const started = Date.now();
  const run = spawnSync(flash, ['--log', log, image], {encoding: 'utf8', timeout: 300000});
  const seconds = (Date.now() - started) / 1000;
  fs.writeFileSync(`${work}/${name}.linux.out`, (run.stdout || '') + (run.stderr || ''));
  if (run.status === 0) {
    await stopSimHolding(child, `${name}-linux`, image);
  } else {
    await stopSim(child, `${name}-linux`);
  }
  return {log: fs.readFileSync(log, 'latin1'), status: run.status, seconds,
          held: readHeld(`${name}-linux`)};
}

function readHeld(name) {
  const file = `${work}/${name}.fw`;
  return fs.existsSync(file) ? fs.readFileSync(file) : Buffer.alloc(0);
}

class Page {
  constructor(browser, sessionId, targetId) {
    Object.assign(this, {browser, sessionId, targetId});
  }
  send(method, params, ms) { return this.browser.send(method, params, this.sessionId, ms); }
  async eval(expression, ms) {
    const r = await this.send('Runtime.evaluate', {expression, returnByValue: true, awaitPromise: true}, ms);
    if (r.exceptionDetails) throw new Error(`${expression}: ${r.exceptionDetails.text}`);
    return r.result.value;
  }
  // Waits in the page itself: a question over the protocol every 100 ms
  // kept the emulated CPU busy with the browser's and the page's messages.
  async until(expression, ms, what) {
    const value = await this.eval(`new Promise((resolve) => {
      const end = performance.now() + ${ms};
      const look = () => {
        let value = null;
        try { value = (${expression}); } catch (e) { /* not there yet */ }
        if (value || performance.now() > end) resolve(value || null);
        else setTimeout(look, 100);
      };
      look();
    })`, ms + 60000);
    if (value) return value;
    const state = await this.eval(`JSON.stringify({notice: document.getElementById('notice').textContent,
        log: window.Module && Module.korvanePage ? Module.korvanePage.logText : null})`);
    throw new Error(`${what}: not within ${ms} ms; the page: ${state}`);
  }
  async key(key, code, keyCode) {
    for (const type of ['keyDown', 'keyUp']) {
      await this.send('Input.dispatchKeyEvent', {type, key, code, windowsVirtualKeyCode: keyCode});
    }
  }
}

// A new tab on the page; resolves once the page's own document has loaded
// (about:blank may still be loading under emulation when its load fires).
async function openPage(browser, url) {
  const {targetId} = await browser.send('Target.createTarget', {url: 'about:blank'});
  const {sessionId} = await browser.send('Target.attachToTarget', {targetId, flatten: true});
  const page = new Page(browser, sessionId, targetId);
  // What the page says on its console, and anything it throws, for a failure's report.
  browser.listeners.push((m) => {
    if (m.sessionId !== sessionId) return;
    if (m.method === 'Runtime.consoleAPICalled') {
      consoleLog.push(m.params.args.map((a) => a.value !== undefined ? a.value : a.description).join(' '));
    } else if (m.method === 'Runtime.exceptionThrown') {
      const d = m.params.exceptionDetails;
      consoleLog.push(`thrown: ${d.exception ? d.exception.description : d.text}`);
    }
  });
  await page.send('Page.enable');
  await page.send('Runtime.enable');
  const origin = new URL(url).origin;
  const navigated = browser.waitFor((m) => m.sessionId === sessionId &&
      m.method === 'Page.frameNavigated' && !m.params.frame.parentId &&
      m.params.frame.url.startsWith(origin), 120000, 'navigation to the page');
  await page.send('Page.navigate', {url});
  await navigated;
  await browser.waitFor((m) => m.sessionId === sessionId && m.method === 'Page.loadEventFired',
                        120000, 'the page\'s load');
  return page;
}

async function closePage(page) {
  await page.browser.send('Target.closeTarget', {targetId: page.targetId});
}

// The page, ready for a file: the engine has greeted.
const kReady = `Module.korvanePage && Module.korvanePage.logText.includes('Please select a file')`;
const kIdle = `!document.getElementById('button-1012').hidden && !document.body.classList.contains('wait')`;

// Gives the page the file through its file input, chooses the first device
// with the keyboard, waits for the run's end; returns the log and the time.
async function pageUpdate(page, image, atChoice) {
  // A user takes a moment to pick the file; the page's first seconds (its
  // threads starting) are the busiest of an emulated Chromium.
  await sleep(2000);
  const before = await page.eval('Module.korvanePage.logText');
  const {root} = await page.send('DOM.getDocument', {});
  const {nodeId} = await page.send('DOM.querySelector', {nodeId: root.nodeId, selector: '#file'});
  const started = Date.now();
  const cpu = cpuReading();
  await page.send('DOM.setFileInputFiles', {files: [image], nodeId});
  await page.until(`document.getElementById('device-dialog').open ||
                    (${kIdle} && Module.korvanePage.logText !== ${JSON.stringify(before)})`,
                   120000, 'the device dialog or the end of the scan');
  const scanBusy = busySince(cpu);
  let chosen = Date.now();
  if (await page.eval(`document.getElementById('device-dialog').open`)) {
    if (atChoice) await atChoice();
    await page.eval(`document.getElementById('device-list').focus()`);
    chosen = Date.now();
    await page.key('Enter', 'Enter', 13);
  }
  await page.until(`!document.getElementById('device-dialog').open && ${kIdle}`, 300000,
                   'the end of the update');
  const seconds = (Date.now() - started) / 1000;
  const transferSeconds = (Date.now() - chosen) / 1000;
  return {log: await page.eval('Module.korvanePage.logText'), seconds, transferSeconds, scanBusy};
}

// Where the controller left with its ports, Web MIDI refuses the messages
// still sent to it and the engine reports each; the RtMidi back-end's ALSA
// output takes them without a word. Those reports aside, the logs are one.
const kRefusedSend = 'MIDIOUTLONGMSG -> MIDIERR_NODEVICE';

function compareLogs(name, expected, actual, refusalsAllowed) {
  if (refusalsAllowed) actual = actual.split(kRefusedSend).join('');
  if (expected === actual) {
    say(`${name}: the page's log is korvane-flash's (${actual.length} bytes)`);
    return;
  }
  fs.writeFileSync(`${out}/${name}.expected.log`, expected, 'latin1');
  bad(`${name}: the page's log differs from korvane-flash's:\n--- expected\n${expected}\n--- page\n${actual}`);
}

// How long after its request each of the controller's replies reached the
// page (the page's MIDI trace): the engine waits 300 ms for one.
function replyTimes(trace) {
  const times = [];
  let sent = null;
  for (const line of trace.split('\n')) {
    const [at, direction, ...rest] = line.split(' ');
    if (!rest.join(' ').startsWith('Korvane Sim')) continue;
    if (direction === 'out') sent = Number(at);
    else if (direction === 'in' && sent !== null) { times.push(Number(at) - sent); sent = null; }
  }
  if (times.length === 0) return 'never';
  times.sort((a, b) => a - b);
  return `${times.length} times, ${times[0].toFixed(0)}-${times[times.length - 1].toFixed(0)} ms ` +
         `(median ${times[times.length >> 1].toFixed(0)})`;
}

// The share of the VM's two emulated CPUs that was busy since a reading
// (/proc/stat): a late reply on a busy VM is the CPU's, on an idle one not.
function cpuReading() {
  const ticks = fs.readFileSync('/proc/stat', 'utf8').split('\n')[0].trim().split(/\s+/).slice(1).map(Number);
  return {idle: ticks[3] + ticks[4], all: ticks.reduce((a, b) => a + b, 0)};
}
function busySince(before) {
  const now = cpuReading();
  const all = now.all - before.all;
  return all > 0 ? `${(100 - (100 * (now.idle - before.idle)) / all).toFixed(0)}%` : '?';
}

// A second tab of the page while the first holds the ports (its device
// dialog is open, the scan's ports still open): every port it would use is
// taken, and it sends nothing.
async function secondTab(browser, url, image) {
  const other = await openPage(browser, url);
  await other.until(kReady, 120000, 'the second tab\'s greeting');
  const before = await other.eval('Module.korvanePage.logText');
  const {root} = await other.send('DOM.getDocument', {});
  const {nodeId} = await other.send('DOM.querySelector', {nodeId: root.nodeId, selector: '#file'});
  await other.send('DOM.setFileInputFiles', {files: [image], nodeId});
  await other.until(`document.getElementById('device-dialog').open ||
                     (${kIdle} && Module.korvanePage.logText !== ${JSON.stringify(before)})`,
                    120000, 'the second tab\'s scan');
  const dialog = await other.eval(`document.getElementById('device-dialog').open`);
  const log = await other.eval('Module.korvanePage.logText');
  fs.writeFileSync(`${out}/second-tab.page.log`, log, 'latin1');
  const taken = (log.match(/MMSYSERR_ALLOCATED/g) || []).length;
  if (dialog || taken === 0 || log.includes('Writing Block')) {
    bad(`second tab: the ports were not refused:\n${log}`);
  } else {
    say(`second tab: ${taken} opens refused as MMSYSERR_ALLOCATED, nothing sent`);
  }
  await closePage(other);
}

function makeImage(name, messages, options = []) {
  const image = `${work}/${name}.syx`;
  spawnSync(sim, ['make-image', '--model', 'TRW1000', '--seed', '7', '--messages', String(messages),
                  ...options, image]);
  return image;
}

// korvane-flash's update of a check's file, the page's reference. All of
// them run before Chromium starts: beside the browser's start, the busiest
// time of the emulated CPU, korvane-flash itself missed its 300 ms replies.
async function reference(name, messages, options, expectedStatus) {
  const image = makeImage(name, messages);
  const linux = await linuxUpdate(name, image, options);
  say(`${name}: korvane-flash ended with ${linux.status} after ${linux.seconds.toFixed(1)} s`);
  if (linux.status !== expectedStatus) bad(`${name}: korvane-flash ended with ${linux.status}, not ${expectedStatus}`);
  return {name, image, options, expectedStatus, linux,
          expected: linux.log.split(image).join(`/files/${path.basename(image)}`)};
}

async function check(browser, url, ref, extra) {
  const {name, image, options, expectedStatus, linux, expected} = ref;
  const child = await startSim(name, options);
  const page = await openPage(browser, url);
  if (extra && extra.before) await extra.before(page);
  await page.until(kReady, 120000, 'the engine\'s greeting');
  const result = await pageUpdate(page, image, extra && extra.atChoice);
  fs.writeFileSync(`${out}/${name}.page.log`, result.log, 'latin1');
  const trace = await page.eval('Module.korvaneMidiTrace()');
  fs.writeFileSync(`${out}/${name}.midi-trace.txt`, trace);
  say(`${name}: the controller's replies came ${replyTimes(trace)} after the requests ` +
      `(the VM's CPU ${result.scanBusy} busy during the scan)`);
  compareLogs(name, expected, result.log, expectedStatus !== 0);
  if (extra && extra.after) await extra.after(page, result, image);
  await closePage(page);
  if (expectedStatus === 0) {
    await stopSimHolding(child, name, image);
  } else {
    await stopSim(child, name);
    // Cut short: the controller holds what it held under korvane-flash.
    const held = readHeld(name);
    if (Buffer.compare(held, linux.held) === 0) {
      say(`${name}: the controller holds the ${held.length} bytes it held under korvane-flash`);
    } else {
      bad(`${name}: the controller holds ${held.length} bytes, under korvane-flash ${linux.held.length}`);
    }
  }
  result.linuxSeconds = linux.seconds;
  return result;
}

// The controller stops for half a second (SIGSTOP) at the end of block 3, as
// the MIDI suites do to korvane-flash: the emulated page takes about 600 ms
// for its 16 messages of 64 bytes, so the reply comes after the engine's
// 300 ms wait, late or after the block was sent again; ALSA keeps what the
// page sends meanwhile, and the addressed controller takes a block sent twice
// once. The update ends in success with the file held; the lines between
// depend on where the stop falls, so only the verdict is compared.
async function pausedCheck(browser, url) {
  const name = 'paused';
  const image = makeImage(name, 48, ['--length', '64', '--addressed']);
  const child = await startSim(name, ['--addressed']);
  let pausing = false;
  let stopped = false;
  const pause = lineFrom(child, (l) => l.startsWith('block 2 ('), 300000, 'block 2').then(async () => {
    pausing = true;
    await sleep(550);
    child.kill('SIGSTOP');
    stopped = true;
    await sleep(500);
    child.kill('SIGCONT');
  }, () => {});
  const page = await openPage(browser, url);
  await page.until(kReady, 120000, 'the engine\'s greeting');
  const result = await pageUpdate(page, image);
  if (pausing) await pause;  // else block 2 never came, and the verdict says why
  fs.writeFileSync(`${out}/${name}.page.log`, result.log, 'latin1');
  fs.writeFileSync(`${out}/${name}.midi-trace.txt`, await page.eval('Module.korvaneMidiTrace()'));
  await closePage(page);
  const tail = result.log.split('\r\n').filter((l) => l).slice(-3).join(' | ');
  if (!stopped) bad(`${name}: the controller was never stopped; the log ends: ${tail}`);
  else if (!result.log.endsWith('Update successfully completed.')) bad(`${name}: the page's log ends: ${tail}`);
  else say(`${name}: stopped for 0.5 s in block 3, the page's log ends: ${tail}`);
  await stopSimHolding(child, name, image);
}

async function main() {
  fs.mkdirSync(work, {recursive: true});
  fs.mkdirSync(out, {recursive: true});
  const server = spawn('python3', [serve, site], {stdio: ['ignore', 'pipe', 'inherit']});
  const url = (await lineFrom(server, (l) => l.startsWith('http://'), 30000, 'the address')).trim() +
              'index.html';
  const plan = mode === 'bench' ? [['bench', 160, [], 0]] : [
    ['whole', 40, [], 0], ['refused-block', 40, ['--refuse', '2:2'], 0],
    ['vanished', 40, ['--vanish-after-messages', '36'], 1]];
  const refs = {};
  for (const [name, ...rest] of plan) refs[name] = await reference(name, ...rest);
  // A headless window still preloads the omnibox's popup, a page of its own
  // in a renderer of its own that kept half of one emulated CPU busy while
  // nothing happened, and most of one during the first scan.
  const browser = new Browser('chromium', [
    '--headless=new', '--no-sandbox', '--no-first-run', '--disable-gpu',
    '--disable-dev-shm-usage', `--user-data-dir=${work}/profile`, '--window-size=900,800',
    '--disable-features=WebUIOmniboxPopup,WebUIOmniboxAimPopup,WebUIOmniboxFullPopup',
    'about:blank']);
  const origin = new URL(url).origin;
  const grant = () => browser.send('Browser.grantPermissions',
                                   {origin, permissions: ['midi', 'midiSysex']});
  try {
    if (mode === 'bench') {
      await grant();
      const r = await check(browser, url, refs.bench);
      const bytes = fs.statSync(`${work}/bench.syx`).size;
      const rate = (seconds) => `${(bytes / seconds).toFixed(0)} bytes/s, ` +
          `${(bytes / seconds / kDinBytesPerSecond).toFixed(2)} of the DIN rate`;
      say(`bench: ${bytes} bytes; Chromium from the device's choice to the verdict ` +
          `${r.transferSeconds.toFixed(1)} s: ${rate(r.transferSeconds)}`);
      say(`bench: Chromium from the file to the verdict ${r.seconds.toFixed(1)} s: ${rate(r.seconds)}`);
      say(`bench: korvane-flash in the same VM, the whole run ${r.linuxSeconds.toFixed(1)} s: ` +
          `${rate(r.linuxSeconds)}`);
      return;
    }
    // SysEx refused: one sentence, no engine, nothing sent; allowed, Try again starts it.
    await browser.send('Browser.setPermission', {origin, setting: 'denied',
                                                 permission: {name: 'midi', sysex: true}});
    await check(browser, url, refs.whole, {
      before: async (page) => {
        const sentence = await page.until(`!document.getElementById('notice').hidden &&
            document.getElementById('notice').textContent`, 60000, 'the refusal\'s sentence');
        const loaded = await page.eval(`typeof Module._main === 'function'`);
        if (loaded || !/did not allow/.test(sentence)) bad(`refused: the page said "${sentence}"${loaded ? ' and started the engine' : ''}`);
        else say(`refused SysEx: "${sentence}"`);
        await grant();
        await page.eval(`document.getElementById('retry').click()`);
      },
      atChoice: () => secondTab(browser, url, `${work}/whole.syx`),
      after: async (page, result) => {
        const shot = await page.send('Page.captureScreenshot', {format: 'png'});
        fs.writeFileSync(`${out}/korvane-update-page.png`, Buffer.from(shot.data, 'base64'));
        say(`whole: ${result.seconds.toFixed(1)} s from the file to the verdict; screenshot kept`);
      },
    });
    await check(browser, url, refs['refused-block']);
    await check(browser, url, refs.vanished);
    await pausedCheck(browser, url);
  } catch (e) {
    bad(`${e.message}\n--- the page's console\n${consoleLog.join('\n')}`);
    fs.writeFileSync(`${out}/chromium.err`, browser.stderr);
  } finally {
    fs.writeFileSync(`${out}/console.log`, consoleLog.join('\n') + '\n');
    await browser.close();
    server.kill();
  }
}

main().then(() => process.exit(failed ? 1 : 0), (e) => { console.log(e); process.exit(1); });
