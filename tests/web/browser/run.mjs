// The web page in a real browser: Debian's chromium, driven by playwright-core, against a logger
// and a hub started here on 127.0.0.1; /metrics read with a parser of the Prometheus text format.
// Exit status 77 (skipped) when chromium or the test's node modules are missing. SCREENSHOTS=DIR
// saves a picture of each page there.
import { spawn, spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, mkdirSync, writeFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { createSocket } from 'node:dgram';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import assert from 'node:assert/strict';

const CHROMIUM = '/usr/bin/chromium';
// Locally a missing browser skips the test; CI installs everything, so there it fails.
function missing(what) {
  console.log((process.env.CI === 'true' ? 'FAILED: ' : 'SKIPPED: ') + what);
  process.exit(process.env.CI === 'true' ? 1 : 77);
}
if (!existsSync(CHROMIUM)) missing('no /usr/bin/chromium (scripts/install-deps installs it)');
let chromium;
let parseMetrics;
try {
  ({ chromium } = await import('playwright-core'));
  parseMetrics = (await import('parse-prometheus-text-format')).default;
} catch {
  missing('playwright-core or parse-prometheus-text-format is not installed (scripts/install-deps runs npm ci)');
}

const bin = process.env.QUILLJOT_BIN;
const shots = process.env.SCREENSHOTS;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const children = [];
const temp = mkdtempSync(join(tmpdir(), 'quilljot-web-'));

function freePort(kind) {
  return new Promise((resolve) => {
    if (kind === 'udp') {
      const s = createSocket('udp4');
      s.bind(0, '127.0.0.1', () => { const p = s.address().port; s.close(() => resolve(p)); });
    } else {
      const s = createServer();
      s.listen(0, '127.0.0.1', () => { const p = s.address().port; s.close(() => resolve(p)); });
    }
  });
}

function start(program, args, waitFor, input) {
  return new Promise((resolve, reject) => {
    // Two seconds of silence are enough for a source to count as quiet here (ten minutes otherwise).
    const env = { ...process.env, QT_QPA_PLATFORM: 'offscreen', QUILLJOT_QUIET_MINIMUM_SECONDS: '2' };
    const child = spawn(join(bin, program), args, { env });
    children.push(child);
    let said = '';
    const timer = setTimeout(() => reject(new Error(program + ' did not say "' + waitFor + '": ' + said)), 10000);
    const listen = (chunk) => {
      said += chunk;
      if (said.includes(waitFor)) { clearTimeout(timer); resolve({ child, said }); }
    };
    child.stdout.on('data', listen);
    child.stderr.on('data', listen);
    child.on('exit', () => { clearTimeout(timer); reject(new Error(program + ' ended: ' + said)); });
  });
}

async function stop(child) {
  if (child.exitCode !== null) return;
  child.removeAllListeners('exit');
  const ended = new Promise((r) => child.once('exit', r));
  child.kill('SIGTERM');
  await ended;
}

const hubPort = await freePort('udp');
const webPort = await freePort('tcp');
const app = join(temp, 'app');
mkdirSync(join(app, 'Config'), { recursive: true });
writeFileSync(join(app, 'Config', 'zelXap.ini'), '[INTERFACE]\r\nBROADCASTADDRESS=127.0.0.1\r\n');
const url = 'http://127.0.0.1:' + webPort + '/';

function send(data, { type = 'Log', source = 'hs.controller.den', time } = {}) {
  const when = time || new Date().toISOString().slice(0, 19).replace('T', ' ');
  const r = spawnSync(join(bin, 'xap-send'), ['--port', String(hubPort), '--source', source, '--class',
    'Homeseer.Event', '--section', 'Event.Log', 'Time=' + when, 'Type=' + type, 'Data=' + data]);
  assert.equal(r.status, 0, 'xap-send: ' + r.stderr);
}

function sqlite(sql) {
  const r = spawnSync('python3', ['-c', `import sqlite3,sys,json
c=sqlite3.connect(sys.argv[1]); print(json.dumps(c.execute(sys.argv[2]).fetchall()))`,
    join(app, 'Data', 'xapzelQuilljot.mdb'), sql], { encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr);
  return JSON.parse(r.stdout);
}

const startLogger = () => start('quilljot', ['--headless', '--app-dir', app, '--xap-port', String(hubPort),
  '--web', String(webPort)], 'web page at');

let context;
let passed = 0;
let failed = 0;
async function check(name, body) {
  try {
    await body();
    ++passed;
    console.log('PASS ' + name);
  } catch (e) {
    ++failed;
    console.log('FAIL ' + name + ': ' + (e.stack || e));
  }
}
async function shot(page, name) {
  if (shots) {
    mkdirSync(shots, { recursive: true });
    await page.screenshot({ path: join(shots, name + '.png'), fullPage: false });
  }
}

try {
  await start('xap-hub', ['--bind', '127.0.0.1', '--port', String(hubPort)], 'listening');
  let logger = (await startLogger()).child;
  await sleep(500);

  context = await chromium.launchPersistentContext(join(temp, 'profile'), {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1200, height: 720 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = context.pages()[0] || await context.newPage();
  const pageErrors = [];
  page.on('pageerror', (e) => pageErrors.push(String(e)));

  // Live opens with the latest stored events: here the logger's start report.
  let opened = 0;
  await check('live opens with the latest events; new ones appear newest on top, in order', async () => {
    await page.goto(url + '#live');
    await page.waitForSelector('#live-state:text("live")');
    opened = await page.locator('#live-rows tr').count();
    assert.ok((await page.locator('#live-rows').textContent()).includes('Using xAP port'));
    send('Front door opened');
    send('Porch light: On', { type: 'Device' });
    send('Hall temperature 21.5 C', { type: 'Status', source: 'zel.thermo.hall' });
    await page.waitForFunction((n) => document.querySelectorAll('#live-rows tr').length >= n + 3, opened, { timeout: 10000 });
    const data = await page.$$eval('#live-rows tr td:nth-child(4)', (tds) => tds.map((td) => td.textContent));
    assert.deepEqual(data.slice(0, 3), ['Hall temperature 21.5 C', 'Porch light: On', 'Front door opened']);
  });

  await check('pause holds and counts, resume shows what was held; filter narrows', async () => {
    await page.click('#live-pause');
    send('While paused');
    await page.waitForSelector('#live-state:text("1 held")', { timeout: 10000 });
    assert.equal(await page.locator('#live-rows tr').count(), opened + 3);
    await page.click('#live-pause');
    assert.equal(await page.locator('#live-rows tr').first().locator('td').nth(3).textContent(), 'While paused');
    await page.fill('#live-source', 'thermo');
    send('Hall temperature 22 C', { type: 'Status', source: 'zel.thermo.hall' });
    send('Not shown');
    await page.waitForFunction(() => document.querySelector('#live-rows td:nth-child(4)').textContent === 'Hall temperature 22 C');
    await sleep(600);
    assert.ok(!(await page.locator('#live-rows').textContent()).includes('Not shown'));
    // The filter applies to the rows already shown too, and letting it go brings them back.
    const sources = await page.locator('#live-rows td:nth-child(2)').allTextContents();
    assert.ok(sources.length > 0 && sources.every((s) => s.includes('thermo')), sources.join());
    await shot(page, 'web-live');
    await page.fill('#live-source', '');
    assert.ok((await page.locator('#live-rows').textContent()).includes('Not shown'));
    await page.click('#live-clear');
    assert.equal(await page.locator('#live-rows tr').count(), 0);
  });

  const hostile = [
    '<script>window.__pwned = 1</script>',
    '"><img src=x onerror="window.__pwned = 2">',
    'javascript:window.__pwned = 3',
    'evil \u202Egnp.exe',
  ];
  await check('hostile event data is shown as text, live and in history', async () => {
    for (const text of hostile) send(text, { type: '<b>Log</b>' });
    await page.waitForFunction(() => document.querySelectorAll('#live-rows tr').length >= 4, null, { timeout: 10000 });
    await page.goto(url + '#history');
    await page.click('#history-form button[type=submit]');
    await page.waitForFunction(() => document.querySelector('#history-rows').textContent.includes('__pwned = 3'));
    for (const where of ['#history-rows']) {
      const text = await page.locator(where).textContent();
      // The file database keeps a double quote as an apostrophe.
      assert.ok(text.includes(hostile[0]) && text.includes(hostile[1].replaceAll('"', "'")) &&
                text.includes(hostile[2]), text);
      assert.ok(text.includes('evil [U+202E]gnp.exe'), 'bidi override shown by name');
      assert.ok(text.includes('<b>Log</b>'));
    }
    assert.equal(await page.locator('main img, main script, main a[href^="javascript"]').count(), 0);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
  });

  await check('history pages by key with a count, filters with an apostrophe', async () => {
    const base = Date.parse('2026-12-01T10:00:00Z');
    for (let i = 0; i < 130; ++i) {
      const t = new Date(base + i * 1000).toISOString().slice(0, 19).replace('T', ' ');
      send((i % 10 === 0 ? "it's " : 'row ') + i, { type: 'Paged', time: t });
    }
    await sleep(500);
    await page.fill('#history-from', '2026-12-01T00:00');
    await page.fill('#history-type', 'paged');
    await page.click('#history-form button[type=submit]');
    await page.waitForSelector('#history-count:text("130 events")');
    await page.waitForFunction(() => document.querySelectorAll('#history-rows tr').length === 100);
    const first = await page.$$eval('#history-rows tr td:nth-child(5)', (t) => t.map((x) => x.textContent));
    assert.equal(first[0], 'row 129');
    await shot(page, 'web-history');
    await page.click('#history-next');
    await page.waitForFunction(() => document.querySelectorAll('#history-rows tr').length === 30);
    const second = await page.$$eval('#history-rows tr td:nth-child(5)', (t) => t.map((x) => x.textContent));
    assert.equal(second[0], 'row 29');
    assert.equal(second[29], "it's 0");
    assert.ok(await page.locator('#history-next').isDisabled());
    await page.fill('#history-data', "it's");
    await page.click('#history-form button[type=submit]');
    await page.waitForSelector('#history-count:text("13 events")');
    // A column's title sorts by it; a second click reverses.
    const firstData = () => page.$$eval('#history-rows tr td:nth-child(5)', (t) => t.slice(0, 3).map((x) => x.textContent));
    await page.click('#history th .sort[data-sort=data]');
    await page.waitForFunction(() => document.querySelector('#history-rows td:nth-child(5)').textContent === "it's 0");
    assert.deepEqual(await firstData(), ["it's 0", "it's 10", "it's 100"]);
    await page.click('#history th .sort[data-sort=data]');
    await page.waitForFunction(() => document.querySelector('#history-rows td:nth-child(5)').textContent === "it's 90");
    assert.deepEqual(await firstData(), ["it's 90", "it's 80", "it's 70"]);
    await page.click('#history th .sort[data-sort=time]');
    await page.waitForFunction(() => document.querySelector('#history-rows td:nth-child(5)').textContent === "it's 120");
  });

  await check('export of the filtered range matches the database', async () => {
    const href = await page.getAttribute('#export-csv', 'href');
    const csv = await (await page.request.get(new URL(href, url).href)).text();
    const rows = sqlite("SELECT ID FROM tblQuilljot WHERE Category = 'Paged' AND Data LIKE '%it''s%' ORDER BY SampleDate, ID");
    const lines = csv.trim().split('\r\n');
    assert.equal(lines[0], 'ID,Time,Source,Type,Data');
    assert.deepEqual(lines.slice(1).map((l) => Number(l.split(',')[0])), rows.map((r) => r[0]));
    const jsonl = await (await page.request.get(new URL(await page.getAttribute('#export-jsonl', 'href'), url).href)).text();
    assert.deepEqual(jsonl.trim().split('\n').map((l) => JSON.parse(l).id), rows.map((r) => r[0]));
  });

  await check('the activity chart shows events per hour with gaps, and a drag narrows the table', async () => {
    for (const [hour, n] of [['08', 5], ['10', 3]]) {
      for (let i = 0; i < n; ++i) send('charted ' + hour + ' ' + i, { type: 'Charted', time: `2026-11-20 ${hour}:1${i}:00` });
    }
    await sleep(500);
    await page.fill('#history-from', '2026-11-20T00:00');
    await page.fill('#history-to', '2026-11-21T00:00');
    await page.fill('#history-type', 'charted');
    await page.fill('#history-data', '');
    await page.click('#history-form button[type=submit]');
    await page.waitForSelector('#history-count:text("8 events")');
    await page.waitForFunction(() => document.querySelectorAll('#chart rect.bar').length === 2);
    const bars = await page.$$eval('#chart rect.bar', (r) => r.map((x) => [x.dataset.start, x.dataset.count]));
    assert.deepEqual(bars, [['2026-11-20 08:00:00', '5'], ['2026-11-20 10:00:00', '3']]);
    assert.equal(await page.locator('#chart rect.gap').count(), 22);
    const box = await page.locator('#chart svg').boundingBox();
    const step = box.width / 24;
    const y = box.y + box.height / 2;
    await page.mouse.move(box.x + 8.5 * step, y);
    await page.waitForSelector('#chart-tip:text("2026-11-20 08:00 – 2026-11-20 09:00: 5 events")');
    await shot(page, 'web-history-chart');
    await page.mouse.down();
    await page.mouse.move(box.x + 9.5 * step, y, { steps: 4 });
    await page.mouse.up();
    await page.waitForSelector('#history-count:text("5 events")');
    assert.match(await page.inputValue('#history-from'), /^2026-11-20T08:00(:00)?$/);
    assert.match(await page.inputValue('#history-to'), /^2026-11-20T10:00(:00)?$/);
    const rows = await page.$$eval('#history-rows tr td:nth-child(5)', (t) => t.map((x) => x.textContent));
    assert.deepEqual(rows, ['charted 08 4', 'charted 08 3', 'charted 08 2', 'charted 08 1', 'charted 08 0']);
    // By minutes now: five of the 120 have events. A data filter reads the rows piece by piece.
    await page.waitForFunction(() => document.querySelectorAll('#chart rect.bar').length === 5);
    await page.fill('#history-data', 'charted 08 1');
    await page.click('#history-form button[type=submit]');
    await page.waitForSelector('#history-count:text("1 event")');
    await page.waitForFunction(() => document.querySelectorAll('#chart rect.bar').length === 1 &&
                               document.querySelector('#chart-note').textContent === '');
    assert.equal(await page.getAttribute('#chart rect.bar', 'data-start'), '2026-11-20 08:11:00');
  });

  await check('status shows the node, the database and the version, and a chart of the last day', async () => {
    // Four events in one minute three hours ago (local time, as the logger's clock): one bar of 4
    // among the 1,440 minutes.
    const d = new Date(Date.now() - 3 * 3600 * 1000);
    const pad = (n) => String(n).padStart(2, '0');
    const minute = `${d.getFullYear()}-${pad(d.getMonth() + 1)}-${pad(d.getDate())} ${pad(d.getHours())}:${pad(d.getMinutes())}`;
    for (let i = 0; i < 4; ++i) send('charted today ' + i, { type: 'Today', time: minute + ':0' + i });
    await sleep(500);
    await page.goto(url + '#status');
    await page.waitForSelector('#status-rows th:text("Version")');
    const bar = `#status-chart rect.bar[data-start="${minute}:00"]`;
    await page.waitForSelector(bar);
    assert.equal(await page.getAttribute(bar, 'data-count'), '4');
    assert.ok(await page.locator('#status-chart rect').count() > 1440);
    const text = await page.locator('#status-rows').textContent();
    assert.ok(text.includes('xapzelQuilljot.mdb') && text.includes('Database openyes'), text);
    // Counts are labelled numbers, not the API's names.
    const counts = await page.locator('#status-rows .counts').textContent();
    assert.ok(counts.includes('Received') && !counts.includes('earlierWritten'), counts);
    const icon = await page.request.get(url + 'favicon.svg');
    assert.equal(icon.headers()['content-type'], 'image/svg+xml');
  });

  await check('a source that went quiet is listed in Status, with when it was last heard', async () => {
    // Heard every 1.2 s, then silent: quiet after five times that.
    for (let i = 0; i < 4; ++i) {
      if (i) await sleep(1200);
      send('Front door closed', { source: 'acme.door.front' });
    }
    const listed = '#status-rows .quiet li:has-text("acme.door.front")';
    await page.waitForSelector(listed, { timeout: 20000 });
    assert.match(await page.locator(listed).textContent(),
      /^acme\.door\.front: last heard \d{4}-\d\d-\d\d \d\d:\d\d:\d\d \(usually every \d s\)$/);
    const status = await (await page.request.get(url + 'api/status')).json();
    assert.ok(status.quietSources.some((q) => q.source === 'acme.door.front' && q.usualGapSeconds >= 1));
    await shot(page, 'web-status');
  });

  // Every family named, explained and typed; the counts are those of /api/status.
  const metricsOf = async (answer) => {
    const text = await answer.text();
    assert.equal(answer.status, 200, text);
    assert.equal(answer.headers.get('content-type'), 'text/plain; version=0.0.4; charset=utf-8');
    const families = new Map(parseMetrics(text).map((f) => [f.name, f]));
    for (const [name, f] of families) {
      assert.ok(/^quilljot_[a-z_]+$/.test(name) && f.help.endsWith('.'), name);
      assert.equal(f.type, name.endsWith('_total') ? 'COUNTER' : 'GAUGE', name);
      assert.equal(f.metrics.length, 1, name);
    }
    return (name) => {
      assert.ok(families.has(name), name + ' missing');
      return Number(families.get(name).metrics[0].value);
    };
  };

  await check('/metrics answers in the Prometheus text format, with the counts of the status', async () => {
    const metric = await metricsOf(await fetch(url + 'metrics'));
    const { counts } = await (await page.request.get(url + 'api/status')).json();
    assert.ok(metric('quilljot_received_total') >= counts.received);
    assert.equal(metric('quilljot_events_written_total'), counts.written);
    assert.equal(metric('quilljot_events_written_total'), sqlite('SELECT COUNT(*) FROM tblQuilljot')[0][0]);
    assert.equal(metric('quilljot_dropped_before_receive_total'), 0);
    assert.equal(metric('quilljot_database_open'), 1);
    assert.ok(metric('quilljot_quiet_sources') >= 1);
    assert.ok(metric('quilljot_event_silence_seconds') >= 0);
    assert.ok(metric('quilljot_web_sessions') >= 1);
    assert.ok(Math.abs(metric('quilljot_start_time_seconds') - Date.now() / 1000) < 600);
  });

  await check('setup saves, takes effect at once, and refuses a bad table name or MQTT port', async () => {
    await page.goto(url + '#setup');
    await page.waitForFunction(() => document.querySelector('#setup-table').value === 'tblQuilljot');
    await shot(page, 'web-setup');
    await page.fill('#setup-table', 'bad name; drop');
    await page.click('#setup-form button[type=submit]');
    await page.waitForSelector('#setup-result.error');
    await page.fill('#setup-table', 'tblWeb');
    await page.fill('[data-mqtt=port]', '70000');
    await page.click('#setup-form button[type=submit]');
    await page.waitForSelector(`#setup-result.error:text("Port must be a TCP port from 0 (off) to 65535, not '70000'")`);
    await page.fill('[data-mqtt=port]', '1883');
    await page.click('#setup-form button[type=submit]');
    await page.waitForSelector('#setup-result:text("Saved; the database is open.")');
    send('Into the new table');
    await sleep(800);
    assert.deepEqual(sqlite("SELECT Data FROM tblWeb WHERE Data = 'Into the new table'"), [['Into the new table']]);
  });

  await check('no script error on any page', async () => {
    assert.deepEqual(pageErrors, []);
  });

  await check('with a password: sign-in by form, slowed failures, CSRF needed for changes', async () => {
    await stop(logger);
    const set = spawnSync(join(bin, 'quilljot'), ['--app-dir', app, '--set-web-password'], { input: 'correct horse battery\n' });
    assert.equal(set.status, 0, String(set.stderr));
    logger = (await startLogger()).child;
    await context.clearCookies();
    await page.goto(url);
    assert.ok(page.url().endsWith('/signin'), page.url());
    await page.fill('#password', 'wrong password');
    const began = Date.now();
    await page.click('button[type=submit]');
    await page.waitForSelector('.error:text("Wrong password.")');
    assert.ok(Date.now() - began >= 900, 'a failed sign-in is answered late');
    await shot(page, 'web-signin');
    await page.fill('#password', 'correct horse battery');
    await Promise.all([page.waitForURL(url), page.click('button[type=submit]')]);
    await page.waitForSelector('#live-state:text("live")');
    const cookies = await context.cookies();
    const session = cookies.find((c) => c.name === 'QuilljotSession');
    assert.ok(session && session.httpOnly && session.sameSite === 'Strict');
    const device = cookies.find((c) => c.name === 'QuilljotDevice');
    assert.ok(device && device.httpOnly && device.path === '/signin' && device.expires > Date.now() / 1000);
    const withoutToken = await page.evaluate(async () => (await fetch('/api/settings', {
      method: 'PUT', headers: { 'Content-Type': 'application/json' }, body: '{"table":"tblOther"}' })).status);
    assert.equal(withoutToken, 403);
    assert.equal((await fetch(url + 'api/history')).status, 401);
  });

  await check('with a password: /metrics takes it in HTTP Basic, and nothing else', async () => {
    const scrape = (password) => fetch(url + 'metrics', password === undefined ? {} : {
      headers: { Authorization: 'Basic ' + Buffer.from('prometheus:' + password).toString('base64') } });
    const none = await scrape();
    assert.equal(none.status, 401);
    assert.equal(none.headers.get('www-authenticate'), 'Basic realm="Quilljot", charset="UTF-8"');
    const metric = await metricsOf(await scrape('correct horse battery'));
    assert.equal(metric('quilljot_database_open'), 1);
    assert.equal((await scrape('wrong horse')).status, 401);
  });
} catch (e) {
  ++failed;
  console.log('FAIL setting up: ' + (e.stack || e));
} finally {
  if (context) await context.close().catch(() => {});
  for (const child of children.reverse()) await stop(child).catch(() => {});
  rmSync(temp, { recursive: true, force: true });
}
console.log(passed + ' passed, ' + failed + ' failed');
process.exit(failed ? 1 : 0);
