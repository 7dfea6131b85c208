// Drives the web panel of a running recorder in headless Chromium. Started by tst_panel, which
// runs the real application with the HTTP and TCP servers on free ports and passes them here.
// Exits with 0 when every step held; otherwise prints the failed step and exits with 1.
import { chromium } from 'playwright-core';
import net from 'node:net';

const env = (name) => {
  const value = process.env[name];
  if (!value)
    throw new Error(`${name} is not set`);
  return value;
};

const panelUrl = env('PANEL_URL');
const tcpPort = Number(env('TCP_PORT'));
const slotCount = Number(env('SLOT_COUNT'));
const sourceName = env('SOURCE_NAME');
const screenshot = env('SCREENSHOT');
const accessKey = env('ACCESS_KEY');
const phoneScreenshot = env('PHONE_SCREENSHOT');

let step = 'start';
const check = (condition, message) => {
  if (!condition)
    throw new Error(message);
};

// One TCP client that answers each command with its reply line.
async function tcpClient(port) {
  const socket = net.createConnection({ host: '127.0.0.1', port });
  let buffer = '';
  const waiters = [];
  socket.setEncoding('utf8');
  socket.on('data', (chunk) => {
    buffer += chunk;
    let end;
    while ((end = buffer.indexOf('\r\n')) >= 0) {
      const line = buffer.slice(0, end);
      buffer = buffer.slice(end + 2);
      const waiter = waiters.shift();
      if (waiter)
        waiter(line);
    }
  });
  const nextLine = () => new Promise((resolve) => waiters.push(resolve));
  await new Promise((resolve, reject) => { socket.once('connect', resolve); socket.once('error', reject); });
  const hello = await nextLine();
  check(hello.startsWith('<hello app="Stavelin Recorder"'), `unexpected greeting ${hello}`);
  const send = async (line) => { socket.write(line + '\n'); return nextLine(); };
  const before = await send("<recording_start slot='1' uid='early'/>");
  check(before === '<failure reason="Access key required" uid="early" />', `TCP reply before the key ${before}`);
  const auth = await send(`<auth key='${accessKey.replace(/&/g, '&amp;')}' uid='k'/>`);
  check(auth === '<succes uid="k" />', `TCP auth reply ${auth}`);
  return {
    send,
    close: () => socket.end(),
  };
}

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});

try {
  const page = await browser.newPage({ viewport: { width: 1400, height: 900 } });
  const pageErrors = [];
  page.on('pageerror', (error) => pageErrors.push(String(error)));

  step = 'the panel asks for the access key';
  await page.goto(panelUrl);
  await page.waitForSelector('#link[data-state="locked"]', { timeout: 10000 });
  check(await page.title() === 'Stavelin Recorder', 'title');
  check(await page.isVisible('#key-form'), 'key form shown');

  step = 'a wrong key is refused';
  await page.fill('#key-input', 'not the key');
  await page.click('#key-form button');
  await page.waitForFunction(() => document.querySelector('#link-text').textContent === 'Wrong access key'
    && !document.querySelector('#key-form').hidden, null, { timeout: 10000 });

  step = 'the right key opens the panel';
  await page.fill('#key-input', accessKey);
  await page.click('#key-form button');
  await page.waitForSelector('#link[data-state="live"]', { timeout: 10000 });
  check(await page.isHidden('#key-form'), 'key form hidden');

  step = 'the key is remembered';
  await page.reload();
  await page.waitForSelector('#link[data-state="live"]', { timeout: 10000 });
  check(await page.isHidden('#key-form'), 'asked again after a reload');

  step = 'every slot is shown';
  await page.waitForFunction((n) => document.querySelectorAll('#slots .slot').length === n, slotCount, { timeout: 10000 });
  const ids = await page.$$eval('#slots .slot', (items) => items.map((item) => item.dataset.id));
  check(JSON.stringify(ids) === JSON.stringify(Array.from({ length: slotCount }, (_, i) => String(i + 1))),
    `slot ids ${ids}`);
  const states = await page.$$eval('#slots .slot .state', (items) => items.map((item) => item.textContent));
  check(states.every((s) => s === 'Ready'), `initial states ${states}`);

  const slot = (id) => page.locator(`#slots .slot[data-id="${id}"]`);

  step = 'the source list offers the network';
  await page.waitForFunction((name) => [...document.querySelectorAll('#source-list option')].some((o) => o.value === name),
    sourceName, { timeout: 15000 });

  step = 'connect slot 1 from the panel';
  await slot(1).locator('.act-connect input').fill(sourceName);
  await slot(1).locator('.act-connect button').click();
  await page.waitForFunction((name) => document.querySelector('#slots .slot[data-id="1"] .source-name').textContent === name,
    sourceName, { timeout: 15000 });

  step = 'the bound slot shows its picture, and it moves';
  const pictureOf = (id) => page.evaluate(async (n) => {
    const image = document.querySelector(`#slots .slot[data-id="${n}"] .snapshot`);
    if (image.hidden || !image.complete || image.naturalWidth === 0)
      return '';
    const canvas = document.createElement('canvas');
    canvas.width = image.naturalWidth;
    canvas.height = image.naturalHeight;
    canvas.getContext('2d').drawImage(image, 0, 0);
    return canvas.toDataURL();
  }, id);
  await page.waitForFunction(() => {
    const image = document.querySelector('#slots .slot[data-id="1"] .snapshot');
    return !image.hidden && image.complete && image.naturalWidth > 0;
  }, null, { timeout: 10000 });
  const firstPicture = await pictureOf(1);
  await page.waitForFunction(async (before) => {
    const image = document.querySelector('#slots .slot[data-id="1"] .snapshot');
    const canvas = document.createElement('canvas');
    canvas.width = image.naturalWidth;
    canvas.height = image.naturalHeight;
    canvas.getContext('2d').drawImage(image, 0, 0);
    return canvas.toDataURL() !== before;
  }, firstPicture, { timeout: 10000, polling: 500 });
  check(await page.isHidden('#slots .slot[data-id="2"] .snapshot'), 'an unbound slot shows no picture');

  step = 'levels and free space are shown';
  await page.waitForFunction(() => parseFloat(document.querySelector('#slots .slot[data-id="1"] .meter-l').style.height) > 30,
    null, { timeout: 10000 });
  await page.waitForFunction(() => /GB free$/.test(document.querySelector('#slots .slot[data-id="1"] .free').textContent),
    null, { timeout: 5000 });

  step = 'rename slot 1 from the panel';
  await slot(1).locator('.act-rename input').fill('Desk camera');
  await slot(1).locator('.act-rename button').click();
  await page.waitForFunction(() => document.querySelector('#slots .slot[data-id="1"] .slot-title').textContent === 'Desk camera',
    null, { timeout: 5000 });

  step = 'record slot 1 from the panel';
  await slot(1).locator('.act-record').click();
  await page.waitForSelector('#slots .slot[data-id="1"][data-state="recording"]', { timeout: 20000 });

  step = 'the recording slot shows REC and its elapsed time';
  await page.waitForFunction(() => /^REC 00:00:0[1-9]$/.test(
    document.querySelector('#slots .slot[data-id="1"] .elapsed').textContent), null, { timeout: 10000 });

  step = 'a refusal is shown with its reason';
  await slot(1).locator('.act-connect input').fill(sourceName);
  await slot(1).locator('.act-connect button').click();
  await page.waitForFunction(() => [...document.querySelectorAll('#messages .message')]
    .some((m) => m.textContent.includes('Recording in progress')), null, { timeout: 5000 });

  step = 'stop slot 1 from the panel';
  await slot(1).locator('.act-stop').click();
  await page.waitForSelector('#slots .slot[data-id="1"][data-state="ready"]', { timeout: 10000 });

  step = 'the finished recording is listed';
  await page.waitForFunction((name) => [...document.querySelectorAll('#recordings tbody tr')]
    .some((row) => row.cells[0].textContent === name && row.cells[6].textContent === 'user'), sourceName, { timeout: 10000 });

  step = 'start all asks first';
  await page.click('#record-all');
  await page.waitForSelector('#confirm[open]', { timeout: 2000 });
  await page.click('#confirm-no');
  await page.waitForSelector('#confirm:not([open])', { state: 'attached', timeout: 2000 });
  await page.waitForTimeout(500);
  check(await page.textContent('#record-all') === 'Start all', 'cancelled start all started');
  await page.click('#record-all');
  await page.waitForSelector('#confirm[open]', { timeout: 2000 });
  await page.click('#confirm-yes');
  await page.waitForFunction(() => document.querySelector('#record-all').textContent === 'Stop all', null, { timeout: 10000 });
  await page.waitForSelector('#slots .slot[data-id="1"][data-state="recording"]', { timeout: 20000 });

  step = 'stop all asks first';
  await page.click('#record-all');
  await page.waitForSelector('#confirm[open]', { timeout: 2000 });
  await page.click('#confirm-yes');
  await page.waitForSelector('#slots .slot[data-id="1"][data-state="ready"]', { timeout: 10000 });

  step = 'a change made over TCP shows within a second';
  const tcp = await tcpClient(tcpPort);
  const sent = Date.now();
  const reply = await tcp.send("<recording_start slot='1' uid='panel'/>");
  check(reply === '<succes uid="panel" />', `TCP reply ${reply}`);
  await page.waitForSelector('#slots .slot[data-id="1"]:is([data-state="waiting"], [data-state="recording"])', { timeout: 1000 });
  const shownAfter = Date.now() - sent;
  console.log(`TCP start shown in the panel after ${shownAfter} ms`);
  check(shownAfter < 1000, `took ${shownAfter} ms`);
  await page.waitForSelector('#slots .slot[data-id="1"][data-state="recording"]', { timeout: 20000 });

  step = 'screenshot';
  await page.screenshot({ path: screenshot, fullPage: true });

  step = 'stop over TCP shows as ready';
  check(await tcp.send("<recording_stop slot='1'/>") === '<succes uid="" />', 'TCP stop');
  await page.waitForSelector('#slots .slot[data-id="1"][data-state="ready"]', { timeout: 1000 });
  tcp.close();

  step = 'a lost stream is opened again and the state comes back';
  await page.evaluate(() => window.recorderPanel.reconnect());
  await page.waitForSelector('#link[data-state="offline"]', { timeout: 1000 });
  await page.waitForSelector('#link[data-state="live"]', { timeout: 5000 });
  check(await slot(1).locator('.slot-title').textContent() === 'Desk camera', 'state after reconnecting');

  step = 'a phone-sized window fits its width';
  const phone = await browser.newPage({ viewport: { width: 390, height: 844 } });
  phone.on('pageerror', (error) => pageErrors.push(String(error)));
  await phone.goto(panelUrl);
  await phone.waitForSelector('#link[data-state="locked"]', { timeout: 10000 });
  await phone.fill('#key-input', accessKey);
  await phone.click('#key-form button');
  await phone.waitForSelector('#link[data-state="live"]', { timeout: 10000 });
  await phone.waitForFunction(() => {
    const image = document.querySelector('#slots .slot[data-id="1"] .snapshot');
    return !image.hidden && image.naturalWidth > 0;
  }, null, { timeout: 10000 });
  const overflow = await phone.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
  const widest = await phone.evaluate(() => [...document.querySelectorAll('body *')]
    .filter((e) => e.getBoundingClientRect().right > window.innerWidth + 1)
    .map((e) => e.tagName + '.' + e.className).slice(0, 6).join(', '));
  check(overflow <= 0, `the phone page is ${overflow} pixels too wide: ${widest}`);
  await phone.screenshot({ path: phoneScreenshot });

  step = 'no script errors';
  check(pageErrors.length === 0, pageErrors.join('\n'));
  console.log('panel test passed');
} catch (error) {
  console.error(`panel test failed at "${step}": ${error.message}`);
  process.exitCode = 1;
} finally {
  await browser.close();
}
