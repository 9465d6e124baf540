'use strict';
// The logger's web page: four views of one page, switched by the address's #fragment. Every
// text that came over the network is put into the page as text (textContent), never as markup.

const $ = (id) => document.getElementById(id);
let csrf = '';

// Direction controls would reorder what is shown around them: they are shown as their names.
const BIDI = /[\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/g;
function cellText(td, text) {
  const parts = String(text ?? '').split(/([\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069])/);
  for (const part of parts) {
    if (part.length === 1 && BIDI.test(part)) {
      BIDI.lastIndex = 0;
      const mark = document.createElement('span');
      mark.className = 'ctl';
      mark.textContent = '[U+' + part.codePointAt(0).toString(16).toUpperCase().padStart(4, '0') + ']';
      td.append(mark);
    } else if (part) {
      td.append(document.createTextNode(part));
    }
    BIDI.lastIndex = 0;
  }
}

function row(cells, classes) {
  const tr = document.createElement('tr');
  cells.forEach((text, i) => {
    const td = document.createElement('td');
    if (classes[i]) td.className = classes[i];
    cellText(td, text);
    tr.append(td);
  });
  return tr;
}

async function api(path, options = {}) {
  const response = await fetch(path, { credentials: 'same-origin', ...options });
  if (response.status === 401) { location.href = '/signin'; throw new Error('Sign in first'); }
  const body = await response.json().catch(() => ({}));
  if (!response.ok) throw new Error(body.error || response.statusText);
  return body;
}

// ---- Live ----
const live = { paused: false, held: [], recent: [], shown: 0, maxRows: 1000, source: null, skipped: 0 };

function liveMatches(e) {
  const has = (text, filter) => !filter || String(text).toLowerCase().includes(filter.toLowerCase());
  return has(e.source, $('live-source').value) && has(e.type, $('live-type').value) &&
         has(e.data, $('live-data').value);
}

// The newest events seen are kept, oldest first, so that a changed filter applies to the rows
// already shown as well as to those to come.
function showLive(events) {
  live.recent.push(...events);
  if (live.recent.length > live.maxRows) live.recent.splice(0, live.recent.length - live.maxRows);
  const body = $('live-rows');
  const fragment = document.createDocumentFragment();
  for (let i = events.length - 1; i >= 0; --i) {
    const e = events[i];
    if (!liveMatches(e)) continue;
    fragment.append(row([e.time, e.source, e.type, e.data], ['time']));
  }
  body.prepend(fragment);
  while (body.rows.length > live.maxRows) body.deleteRow(-1);
}

function liveState() {
  let text = live.paused ? 'paused, ' + live.held.length + ' held' : 'live';
  if (live.skipped) text += ', ' + live.skipped + ' not shown (too many at once)';
  $('live-state').textContent = text;
}

// The latest stored events, so that Live is not empty until the next one arrives.
async function showLatest() {
  try {
    const page = await api('/api/history?limit=50&sort=time&order=desc');
    showLive(page.rows.reverse());
  } catch (e) {
    // Live works without them (the database may be away); Status says why.
  }
}

async function startLive() {
  if (live.source) return;
  live.source = 'opening';
  await showLatest();
  live.source = new EventSource('/api/live');
  live.source.onopen = () => liveState();
  live.source.onerror = () => { $('live-state').textContent = 'reconnecting…'; };
  live.source.onmessage = (message) => {
    const batch = JSON.parse(message.data);
    live.skipped += batch.skipped || 0;
    if (live.paused) {
      live.held.push(...batch.events);
      if (live.held.length > live.maxRows) {
        live.skipped += live.held.length - live.maxRows;
        live.held.splice(0, live.held.length - live.maxRows);
      }
    } else {
      showLive(batch.events);
    }
    liveState();
  };
}

$('live-pause').addEventListener('click', () => {
  live.paused = !live.paused;
  $('live-pause').textContent = live.paused ? 'Resume' : 'Pause';
  $('live-pause').classList.toggle('on', live.paused);
  if (!live.paused) { showLive(live.held); live.held = []; }
  liveState();
});
for (const id of ['live-source', 'live-type', 'live-data']) {
  $(id).addEventListener('input', () => {
    const events = live.recent;
    live.recent = [];
    $('live-rows').replaceChildren();
    showLive(events);
  });
}
$('live-clear').addEventListener('click', () => {
  $('live-rows').replaceChildren();
  live.held = []; live.recent = []; live.skipped = 0;
  liveState();
});

// ---- History ----
const pages = { next: null };
// Newest first at first; a column's title sorts by it, a second click reverses.
const sorting = { column: 'time', order: 'desc' };

function localInput(date) {
  const pad = (n) => String(n).padStart(2, '0');
  return date.getFullYear() + '-' + pad(date.getMonth() + 1) + '-' + pad(date.getDate()) + 'T' +
         pad(date.getHours()) + ':' + pad(date.getMinutes()) + ':' + pad(date.getSeconds());
}

function historyParams() {
  const p = new URLSearchParams();
  for (const name of ['from', 'to', 'source', 'type', 'data']) {
    const value = $('history-' + name).value.trim();
    if (value) p.set(name, value);
  }
  return p;
}

async function loadHistory(before) {
  const p = historyParams();
  p.set('limit', '100');
  p.set('sort', sorting.column);
  p.set('order', sorting.order);
  if (before) p.set('before', before);
  $('history-error').textContent = '';
  try {
    const page = await api('/api/history?' + p);
    $('history-rows').replaceChildren(...page.rows.map(
      (r) => row([r.id, r.time, r.source, r.type, r.data], ['id', 'time'])));
    pages.next = page.next;
    $('history-next').disabled = page.next === null;
    $('history-first').disabled = !before;
  } catch (e) {
    $('history-error').textContent = e.message;
  }
}

// ---- Activity chart ----
const chartRun = { id: 0 };
const chart = new ActivityChart($('chart'), $('chart-tip'), $('chart-legend'), (from, to) => {
  $('history-from').value = from.replace(' ', 'T');
  $('history-to').value = to.replace(' ', 'T');
  searchHistory();
});

async function loadChart(p) {
  const run = ++chartRun.id;
  const q = new URLSearchParams(p);
  const split = $('chart-split').value;
  if (split) q.set('split', split);
  $('chart-note').textContent = '';
  $('chart-cancel').hidden = true;
  try {
    if (!q.get('data')) {
      const data = await api('/api/activity?' + q);
      if (run === chartRun.id) chart.show(data);
      return;
    }
    // No summary answers a data filter: the rows of the range are read piece by piece, which
    // shows progress and can be cancelled between pieces.
    const outline = new URLSearchParams(q);
    outline.delete('data');
    outline.delete('split');
    const whole = await api('/api/activity?' + outline);
    const starts = whole.buckets.map((b) => b.start);
    const pieces = Math.min(10, starts.length);
    let joined = null;
    $('chart-cancel').hidden = false;
    for (let i = 0; i < pieces && run === chartRun.id; ++i) {
      $('chart-note').textContent = `reading the rows: ${i} of ${pieces} parts`;
      const first = Math.floor((starts.length * i) / pieces);
      const end = Math.floor((starts.length * (i + 1)) / pieces);
      const piece = new URLSearchParams(q);
      piece.set('from', starts[first].replace(' ', 'T'));
      piece.set('to', (end < starts.length ? starts[end] : whole.to).replace(' ', 'T'));
      piece.set('bucket', whole.bucket);
      const part = await api('/api/activity?' + piece);
      if (run !== chartRun.id) return;
      joined = joinCharts(joined, part);
      chart.show(joined);
    }
    if (run === chartRun.id) $('chart-note').textContent = '';
  } catch (e) {
    if (run === chartRun.id) $('chart-note').textContent = e.message;
  } finally {
    if (run === chartRun.id) $('chart-cancel').hidden = true;
  }
}

$('chart-cancel').addEventListener('click', () => {
  ++chartRun.id;
  $('chart-note').textContent = 'cancelled';
  $('chart-cancel').hidden = true;
});
$('chart-split').addEventListener('change', () => loadChart(historyParams()));

async function searchHistory() {
  const p = historyParams();
  loadChart(p);
  $('export-csv').href = '/api/export?format=csv&' + p;
  $('export-jsonl').href = '/api/export?format=jsonl&' + p;
  $('history-count').textContent = 'counting…';
  loadHistory(null);
  try {
    const c = await api('/api/count?' + p);
    $('history-count').textContent = c.count.toLocaleString() + (c.count === 1 ? ' event' : ' events');
  } catch (e) {
    $('history-count').textContent = '';
    $('history-error').textContent = e.message;
  }
}

$('history-form').addEventListener('submit', (e) => { e.preventDefault(); searchHistory(); });
$('history-next').addEventListener('click', () => loadHistory(pages.next));
$('history-first').addEventListener('click', () => loadHistory(null));

function showSorting() {
  for (const button of document.querySelectorAll('#history th .sort')) {
    const on = button.dataset.sort === sorting.column;
    button.setAttribute('aria-sort', on ? (sorting.order === 'desc' ? 'descending' : 'ascending') : 'none');
  }
  const byTime = sorting.column === 'time';
  $('history-first').textContent = byTime ? (sorting.order === 'desc' ? 'Newest' : 'Oldest') : 'First';
  $('history-next').textContent = byTime ? (sorting.order === 'desc' ? 'Older' : 'Newer') : 'Next';
}

for (const button of document.querySelectorAll('#history th .sort')) {
  button.addEventListener('click', () => {
    const same = sorting.column === button.dataset.sort;
    sorting.order = same && sorting.order === 'desc' ? 'asc' : 'desc';
    if (!same) sorting.order = button.dataset.sort === 'time' ? 'desc' : 'asc';
    sorting.column = button.dataset.sort;
    showSorting();
    loadHistory(null);
  });
}
showSorting();

// ---- Status ----
const STATUS_NAMES = [
  ['version', 'Version'], ['xapSource', 'xAP source'], ['listenPort', 'Listening on port'],
  ['sendFrom', 'Sending from'], ['destination', 'Sending to'], ['startedAt', 'Started'],
  ['lastReceived', 'Hub seen (last message)'], ['lastEvent', 'Last event'],
  ['quietSources', 'Quiet sources'], ['database', 'Database'],
  ['databaseOpen', 'Database open'], ['spoolWaiting', 'Waiting in the spool'],
  ['messagesWaiting', 'Messages waiting in the spool'], ['counts', 'Counts'],
  ['reportsSent', 'Reports sent'],
];
// Numbers that count something, shown with digit grouping (a port is not one of them).
const COUNTED = new Set(['spoolWaiting', 'messagesWaiting', 'reportsSent']);
// The counts of datagrams since the start, one labelled number each.
const COUNT_NAMES = [
  ['received', 'Received'], ['written', 'Events written'], ['spooled', 'Events spooled'],
  ['rejected', 'Refused by the database'], ['messagesWritten', 'Logged messages written'],
  ['messagesSpooled', 'Logged messages spooled'], ['other', 'Other messages'],
  ['waiting', 'Received and waiting to be written'], ['dropped', 'Dropped'],
  ['droppedBeforeReceive', 'Dropped by the system before they were received'],
  ['earlierWritten', "Written from an earlier run's spool"],
];

function statusText(key, value) {
  if (value === null || value === undefined) {
    return key === 'lastReceived' || key === 'lastEvent' ? 'nothing yet' : '';
  }
  if (typeof value === 'boolean') return value ? 'yes' : 'no';
  if (COUNTED.has(key)) return Number(value).toLocaleString();
  return String(value);
}

function countList(counts) {
  const dl = document.createElement('dl');
  dl.className = 'counts';
  const known = new Map(COUNT_NAMES);
  for (const key of [...known.keys(), ...Object.keys(counts).filter((k) => !known.has(k))]) {
    if (!(key in counts)) continue;
    const dt = document.createElement('dt');
    dt.textContent = known.get(key) || key;
    const dd = document.createElement('dd');
    dd.textContent = Number(counts[key]).toLocaleString();
    dl.append(dt, dd);
  }
  return dl;
}

// "every 40 s", "every 5 min", "every 2 h": a source's usual spacing, roughly.
function spacingText(seconds) {
  if (seconds < 120) return 'every ' + seconds + ' s';
  if (seconds < 7200) return 'every ' + Math.round(seconds / 60) + ' min';
  return 'every ' + Math.round(seconds / 3600) + ' h';
}

// Sources heard before and silent now for much longer than usual, with when they were last heard.
function quietList(quiet) {
  if (quiet.length === 0) {
    const none = document.createElement('span');
    none.textContent = 'none: every source of events was heard about as often as usual';
    return none;
  }
  const ul = document.createElement('ul');
  ul.className = 'quiet';
  for (const q of quiet) {
    const li = document.createElement('li');
    cellText(li, q.source + ': last heard ' + q.lastHeard + ' (usually ' + spacingText(q.usualGapSeconds) + ')');
    ul.append(li);
  }
  return ul;
}

async function loadStatus() {
  try {
    const s = await api('/api/status');
    $('status-rows').replaceChildren(...STATUS_NAMES.filter(([key]) => key in s).map(([key, name]) => {
      const tr = document.createElement('tr');
      const th = document.createElement('th');
      th.textContent = name;
      const td = document.createElement('td');
      if (key === 'counts') td.append(countList(s[key]));
      else if (key === 'quietSources') td.append(quietList(s[key]));
      else cellText(td, statusText(key, s[key]));
      tr.append(th, td);
      return tr;
    }));
    $('status-reports').replaceChildren(...(s.lastReports || []).map((line) => {
      const li = document.createElement('li');
      cellText(li, line);
      return li;
    }));
  } catch (e) {
    $('status-rows').replaceChildren(row([e.message], ['error']));
  }
}

// The events per minute of the last 24 hours; a click or a drag opens the History at that range.
const statusChart = new ActivityChart($('status-chart'), $('status-chart-tip'), null, (from, to) => {
  $('history-from').value = from.replace(' ', 'T');
  $('history-to').value = to.replace(' ', 'T');
  location.hash = '#history';
  searchHistory();
}, { height: 90, id: 'status-chart-svg' });

async function loadStatusChart() {
  try {
    statusChart.show(await api('/api/activity?hours=24&bucket=minute'));
    $('status-chart').hidden = false;
    $('status-chart-note').textContent = '';
  } catch (e) {
    $('status-chart').hidden = true;
    $('status-chart-note').textContent = 'The chart could not be read: ' + e.message;
  }
}

// ---- Setup ----
async function loadSetup() {
  const s = await api('/api/settings');
  for (const radio of document.querySelectorAll('input[name=engine]')) radio.checked = radio.value === s.engine;
  $('setup-sqlSource').value = s.sqlSource;
  $('setup-database').value = s.database;
  $('setup-table').value = s.table;
  $('setup-searchIndex').checked = s.searchIndex;
  for (const field of document.querySelectorAll('[data-mqtt]')) {
    const value = s.mqtt[field.dataset.mqtt];
    if (field.type === 'checkbox') field.checked = value;
    else field.value = String(value);
  }
}

// The fields as the page shows them: the password's mask sent back unchanged keeps it.
function chosenMqtt() {
  const mqtt = {};
  for (const field of document.querySelectorAll('[data-mqtt]')) {
    mqtt[field.dataset.mqtt] = field.type === 'checkbox' ? field.checked : field.value;
  }
  return mqtt;
}

$('setup-form').addEventListener('submit', async (e) => {
  e.preventDefault();
  const engine = document.querySelector('input[name=engine]:checked');
  const body = {
    engine: engine ? engine.value : 'file',
    sqlSource: $('setup-sqlSource').value,
    database: $('setup-database').value,
    table: $('setup-table').value,
    searchIndex: $('setup-searchIndex').checked,
    mqtt: chosenMqtt(),
  };
  $('setup-result').className = 'note';
  $('setup-result').textContent = 'saving…';
  try {
    const saved = await api('/api/settings', {
      method: 'PUT', headers: { 'Content-Type': 'application/json', 'X-CSRF-Token': csrf },
      body: JSON.stringify(body),
    });
    $('setup-result').textContent = saved.databaseOpen ? 'Saved; the database is open.'
                                                       : 'Saved; the database is not open (see Status).';
  } catch (err) {
    $('setup-result').className = 'error';
    $('setup-result').textContent = err.message;
  }
});

// ---- Views ----
// The page header stays in view; the table headings stick just below it, whatever its height.
new ResizeObserver(([entry]) => {
  document.documentElement.style.setProperty('--header-height', entry.target.offsetHeight + 'px');
}).observe(document.querySelector('header'));

let statusTimer = null;
let statusChartTimer = null;
function showView() {
  const view = (location.hash || '#live').slice(1);
  for (const page of document.querySelectorAll('.page')) page.hidden = page.id !== view;
  for (const link of document.querySelectorAll('nav a')) link.classList.toggle('current', link.id === 'nav-' + view);
  clearInterval(statusTimer);
  clearInterval(statusChartTimer);
  if (view === 'status') {
    loadStatus();
    statusTimer = setInterval(loadStatus, 2000);
    loadStatusChart();
    statusChartTimer = setInterval(loadStatusChart, 60000);
  }
  if (view === 'setup') loadSetup().catch((e) => { $('setup-result').textContent = e.message; });
}

async function begin() {
  const session = await api('/api/session');
  if (session.signInNeeded && !session.signedIn) { location.href = '/signin'; return; }
  csrf = session.csrf || '';
  $('signout').hidden = !session.signInNeeded;
  $('plain-warning').hidden = !session.plainOnNetwork;
  const weekAgo = new Date(Date.now() - 7 * 24 * 3600 * 1000);
  weekAgo.setMilliseconds(0);
  $('history-from').value = localInput(weekAgo);
  window.addEventListener('hashchange', showView);
  showView();
  startLive();
  searchHistory();
}

$('signout').addEventListener('submit', async (e) => {
  e.preventDefault();
  await fetch('/signout', { method: 'POST', headers: { 'X-CSRF-Token': csrf } });
  location.href = '/signin';
});

begin();
