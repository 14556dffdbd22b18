// Walks the admin console in headless Chromium the way a technician would:
// logs in with the credential, opens the settings list, edits the Store row
// through its form, runs a SELECT with "result" and an UPDATE with "exec",
// and writes a screenshot of each page.
//
//   node console-walk.mjs BASE_URL USER PASSWORD SCREENSHOT_DIR
//
// Exits 0 when every step showed what it should, 1 otherwise (with the reason).
import { chromium } from 'playwright-core';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const [base, user, password, shots] = process.argv.slice(2);
if (!shots) {
  console.error('usage: node console-walk.mjs BASE_URL USER PASSWORD SCREENSHOT_DIR');
  process.exit(2);
}
fs.mkdirSync(shots, { recursive: true });

function check(condition, what) {
  if (!condition) throw new Error(what);
  console.log('ok: ' + what);
}

const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'courio-chromium-'));
const context = await chromium.launchPersistentContext(userDataDir, {
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  httpCredentials: { username: user, password },
  viewport: { width: 1200, height: 800 },
});
const problems = [];
let status = 0;
try {
  context.setDefaultTimeout(30000);
  const page = context.pages()[0] ?? await context.newPage();
  page.on('pageerror', (e) => problems.push('page error: ' + e.message));
  page.on('console', (m) => { if (m.type() === 'error') problems.push('console error: ' + m.text()); });
  const shot = (name) => page.screenshot({ path: path.join(shots, name), fullPage: true });

  // Without the credential the console refuses.
  const anonymous = await fetch(base + '/admin');
  check(anonymous.status === 401, 'without the credential the console answers 401');

  // The frame page, with its style sheet from the asset route.
  const home = await page.goto(base + '/admin');
  check(home.status() === 200, 'with the credential /admin answers 200');
  const headerColour = await page.$eval('header.top', (e) => getComputedStyle(e).backgroundColor);
  check(headerColour === 'rgb(35, 57, 91)', 'the style sheet is applied (' + headerColour + ')');
  await shot('console-main.png');

  // The settings list, then the Store row and its form.
  await page.click('nav.menu >> text=Settings');
  await page.waitForURL('**/admin/settings');
  const names = await page.$$eval('ul.setting-list a', (links) => links.map((a) => a.textContent.trim()));
  check(names.length === 12 && names[0] === 'WebService' && names[11] === 'Uploader',
        'the settings list shows the twelve rows (' + names.join(', ') + ')');
  await page.click('ul.setting-list >> text=Store');
  await page.waitForURL('**/admin/settings/Store');
  check(await page.inputValue('input[name="id"]') === '7', 'the Store form shows id 7');
  await shot('console-settings.png');

  await page.fill('input[name="id"]', '42');
  await Promise.all([page.waitForNavigation(), page.click('form.edit button[type="submit"]')]);
  check(await page.inputValue('input[name="id"]') === '42', 'after saving, the form shows id 42');
  const stored = (await page.textContent('#stored-value')).trim();
  check(stored === '{"id":"42"}', 'the stored value is ' + stored);
  await shot('console-settings-saved.png');

  // The query page: a SELECT with "result".
  await page.click('nav.menu >> text=Database query');
  await page.waitForURL('**/admin/database');
  check(await page.inputValue('#query') === 'SELECT * FROM | WHERE 1=1', 'the query box holds the default text');
  await page.fill('#query', "SELECT ID, Name FROM Settings WHERE Name IN ('WebService', 'Account', 'Store') ORDER BY ID");
  await Promise.all([page.waitForNavigation(), page.click('button[value="result"]')]);
  const headings = await page.$$eval('.result table th', (ths) => ths.map((th) => th.textContent));
  const cells = await page.$$eval('.result table tbody tr', (trs) => trs.map((tr) => tr.children[1].textContent));
  check(headings.join(',') === 'ID,Name', 'the result table has the columns ID and Name');
  check(cells.join(',') === 'WebService,Account,Store', 'the result table lists the three rows');
  await shot('console-query-result.png');

  // An UPDATE with "exec".
  await page.fill('#query', "UPDATE Settings SET Value = Value WHERE Name IN ('WebService', 'Account', 'Store')");
  await Promise.all([page.waitForNavigation(), page.click('button[value="exec"]')]);
  const message = (await page.textContent('.result .msg')).trim();
  check(message === 'Query Executed 3 rows modified', 'exec shows: ' + message);
  await shot('console-query-exec.png');

  check(problems.length === 0, 'no page or console errors' + (problems.length ? ': ' + problems.join('; ') : ''));
} catch (e) {
  console.error('FAILED: ' + e.message);
  status = 1;
} finally {
  await context.close();
  fs.rmSync(userDataDir, { recursive: true, force: true });
}
process.exit(status);
