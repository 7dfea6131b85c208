// The web panel in headless Chromium, as a user drives it; started by tst_panel, exits with 1 and the failed step.
import { chromium } from 'playwright-core';

const [url, source, key] = ['PANEL_URL', 'SOURCE_NAME', 'ACCESS_KEY'].map((name) => process.env[name]);
const check = (condition, message) => { if (!condition) throw new Error(message); };
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'] });
let step = 'start';
const errors = [];

async function open(viewport, keys) {
  const page = await browser.newPage({ viewport });
  page.on('pageerror', (error) => errors.push(String(error)));
  await page.goto(url);
  await page.waitForSelector('#link[data-state="locked"]', { timeout: 10000 });
  for (const given of keys) {
    await page.fill('#key-input', given);
    await page.click('#key-form button');
  }
  return page;
}
const slot = (id) => `#slots .slot[data-id="${id}"]`;
const picture = (page) => page.evaluate((selector) => {
  const image = document.querySelector(selector);
  if (image.hidden || !image.complete || image.naturalWidth === 0)
    return '';
  const canvas = Object.assign(document.createElement('canvas'), { width: image.naturalWidth, height: image.naturalHeight });
  canvas.getContext('2d').drawImage(image, 0, 0);
  return canvas.toDataURL();
}, `${slot(1)} .snapshot`);

try {
  step = 'the locked panel says nothing about recordings';
  const page = await open({ width: 1400, height: 900 }, []);
  check(!(await page.evaluate(() => /recordings/i.test(document.body.innerText))), 'recordings are spoken of before the key');

  step = 'a wrong key is refused, the right one opens the panel';
  await page.fill('#key-input', 'not the key');
  await page.click('#key-form button');
  await page.waitForFunction(() => document.querySelector('#link-text').textContent === 'Wrong access key'
    && !document.querySelector('#key-form').hidden, null, { timeout: 10000 });
  await page.fill('#key-input', key);
  await page.click('#key-form button');
  await page.waitForSelector('#link[data-state="live"]', { timeout: 10000 });
  check(await page.isHidden('#key-form'), 'the key form stays');

  step = 'every slot says EMPTY, as the window does';
  await page.waitForFunction(() => document.querySelectorAll('#slots .slot').length > 0
    && [...document.querySelectorAll('#slots .slot .state')].every((item) => item.textContent === 'EMPTY'), null, { timeout: 10000 });

  step = 'a bound slot shows its picture, the picture moves and the meters show sound';
  await page.waitForFunction((name) => [...document.querySelectorAll('#source-list option')].some((o) => o.value === name),
    source, { timeout: 15000 });
  await page.locator(`${slot(1)} .act-connect input`).fill(source);
  await page.locator(`${slot(1)} .act-connect button`).click();
  const until = async (test) => { for (let i = 0; i < 40; ++i, await page.waitForTimeout(250)) if (await test()) return true; return false; };
  let first = '';
  check(await until(async () => (first = await picture(page)) !== ''), 'no picture');
  check(await until(async () => (await picture(page)) !== first), 'the picture stands still');
  check(await page.isHidden(`${slot(2)} .snapshot`), 'an unbound slot shows a picture');
  await page.waitForFunction((s) => parseFloat(document.querySelector(`${s} .meter-l`).style.height) > 30, slot(1),
    { timeout: 10000 });

  step = 'Start all asks first: Cancel leaves it, Yes starts';
  const askAll = async (answer) => {
    await page.click('#record-all');
    await page.waitForSelector('#confirm[open]', { timeout: 2000 });
    await page.click(answer);
  };
  await askAll('#confirm-no');
  await page.waitForTimeout(1000);
  check(await page.textContent(`${slot(1)} .state`) === 'READY', 'a cancelled Start all started slot 1');
  await askAll('#confirm-yes');
  await page.waitForFunction((s) => document.querySelector(`${s} .state`).textContent === 'REC', slot(1),
    { timeout: 20000 });
  check(await page.textContent('#record-all') === 'Stop all', 'the button does not offer Stop all');

  step = 'Stop all asks first as well';
  await askAll('#confirm-yes');
  await page.waitForFunction((s) => document.querySelector(`${s} .state`).textContent === 'READY', slot(1),
    { timeout: 10000 });

  step = 'a phone shows sixteen compact cards within three screens and its width; a message covers no picture';
  const phone = await open({ width: 390, height: 844 }, [key]);
  await phone.waitForFunction((s) => document.querySelector(s)?.naturalWidth > 0, `${slot(1)} .snapshot`, { timeout: 10000 });
  await phone.waitForSelector('#recordings-section:not([hidden])', { timeout: 10000 });
  const [count, overflow, screens] = await phone.evaluate(() => [document.querySelectorAll('#slots .slot').length,
    document.documentElement.scrollWidth - innerWidth, document.documentElement.scrollHeight / innerHeight]);
  check(count === 16 && overflow <= 0 && screens <= 3, `${count} slots, ${overflow} pixels too wide, ${screens.toFixed(2)} screens long`);
  await phone.evaluate(() => window.recorderPanel.showMessage('A message'));
  const covered = await phone.evaluate(() => {
    const box = document.querySelector('#messages .message').getBoundingClientRect();
    return [...document.querySelectorAll('.picture')].some((p) => { const r = p.getBoundingClientRect();
      return r.top < box.bottom && box.top < r.bottom && r.left < box.right && box.left < r.right; });
  });
  check(!covered, 'a message covers a picture');
  check(await phone.isHidden(`${slot(2)} .act-connect`), 'the connect form shows without More');
  await phone.click(`${slot(2)} .act-more`);
  check(await phone.isVisible(`${slot(2)} .act-connect`), 'More does not show the connect form');
  if (process.env.SCREENSHOTS)
    for (const [name, shot] of [['phone', phone], ['desktop', page]])
      await shot.screenshot({ path: `${process.env.SCREENSHOTS}/panel-${name}.png`, fullPage: true });
  check(errors.length === 0, errors.join('\n'));
  console.log('panel test passed');
} catch (error) {
  console.error(`panel test failed at "${step}": ${error.message}`);
  process.exitCode = 1;
} finally {
  await browser.close();
}
