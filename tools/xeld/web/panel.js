// The web panel: reads /v1/unit, follows /v1/events and changes the unit
// through /v1/members. Nothing else is fetched.
'use strict';

// Meters left to right, as the console shows them, and the reading behind each.
const METERS = [
  ['L', 'Left'], ['C', 'Center'], ['R', 'Right'], ['Ls', 'LeftSurround'],
  ['Rs', 'RightSurround'], ['SW', 'Sub'], ['7', 'LeftEx'], ['8', 'RightEx'],
];
const TOKEN_KEY = 'xeld-token';
const LINK_TEXT = {
  connecting: 'Connecting to the unit…',
  reconnecting: 'Link to the unit lost – reconnecting…',
  stopped: 'The server is stopping.',
  unreachable: 'Server not reachable – retrying…',
};

const view = {};
let unit = null;             // the last /v1/unit answer
let linkState = 'connecting'; // the server's link state, or "unreachable"
let lostAt = null;           // ms since epoch when the link was last seen lost
let busy = false;            // a change is on its way
let events = null;
let loadTimer = null;

// The console's mapping of a raw 12-bit reading to the 0-60 meter:
// ln(v) x 8.2667 + 3.1969, truncated, clamped; the two extra channels show
// nothing below the threshold.
function meterPosition(level, extraChannel, exThreshold) {
  let x = Math.log(Number(level)) * 8.2667 + 3.1969;
  if (extraChannel && x < exThreshold) x = -60;
  if (x >= 60) return 60;
  if (!(x > 0)) return 0;
  return Math.trunc(x);
}

function el(tag, props) {
  const e = document.createElement(tag);
  Object.assign(e, props || {});
  return e;
}

function token() {
  try {
    return sessionStorage.getItem(TOKEN_KEY) || '';
  } catch (e) {
    return '';
  }
}

function controlsAllowed() {
  return unit !== null && linkState === 'connected' && (!unit.token_required || token() !== '');
}

function ago(ms) {
  const s = Math.max(0, Math.floor(ms / 1000));
  const m = Math.floor(s / 60);
  return m > 0 ? `${m} min ${s % 60} s` : `${s} s`;
}

// --- showing ---------------------------------------------------------------

function buildMeters() {
  view.meters = METERS.map(([label]) => {
    const meter = el('div', { className: 'meter' });
    const track = el('div', { className: 'meter-track' });
    track.setAttribute('role', 'meter');
    track.setAttribute('aria-label', `Output ${label}`);
    track.setAttribute('aria-valuemin', '0');
    track.setAttribute('aria-valuemax', '60');
    track.setAttribute('aria-valuenow', '0');
    const fill = el('div', { className: 'meter-fill' });
    track.append(fill);
    meter.append(track, el('span', { className: 'meter-label', textContent: label }));
    view.bars.append(meter);
    return { track, fill };
  });
}

function buildFormats() {
  view.formatButtons = [];
  for (let i = 0; i < 8; ++i) {
    const b = el('button', { type: 'button', textContent: `Format ${i + 1}` });
    b.dataset.format = String(i);
    b.setAttribute('aria-pressed', 'false');
    b.addEventListener('click', () => chooseFormat(i));
    view.formats.append(b);
    view.formatButtons.push(b);
  }
}

function showLevels(levels) {
  const threshold = unit && typeof unit.ex_threshold === 'number' ? unit.ex_threshold : 40;
  const up = linkState === 'connected' && levels;
  METERS.forEach(([, key], m) => {
    const p = up ? meterPosition(levels[key], m >= 6, threshold) : 0;
    view.meters[m].track.setAttribute('aria-valuenow', String(p));
    view.meters[m].fill.style.transform = `scaleY(${p / 60})`;
  });
}

function showBanner() {
  const down = linkState !== 'connected';
  view.banner.hidden = !down;
  view.banner.dataset.state = linkState;
  view.link.dataset.state = linkState;
  view.link.textContent = linkState === 'unreachable' ? 'Server not reachable'
    : linkState.charAt(0).toUpperCase() + linkState.slice(1);
  if (!down) return;
  view.bannerText.textContent = LINK_TEXT[linkState] || LINK_TEXT.connecting;
  const how = { unreachable: 'unreachable', reconnecting: 'link lost', connecting: 'trying' }[linkState] || 'down';
  view.bannerAge.textContent = lostAt === null ? '' : `(${how} for ${ago(Date.now() - lostAt)})`;
}

// `sinceMs`: when the server saw the state change; a page opened while the
// link is down counts from there (never from a time ahead of this clock).
function setLink(state, sinceMs) {
  const now = Date.now();
  const serverSince = Math.min(now, Number.isFinite(sinceMs) ? sinceMs : now);
  if (state === 'connected') lostAt = null;
  else if (state === 'unreachable') lostAt = linkState === 'unreachable' ? lostAt : now;
  else if (linkState === 'connected') {
    lostAt = now;
    // The last change's outcome belongs to the link that was lost.
    if (!busy) showChange('idle', '');
  }
  else if (lostAt === null || linkState === 'unreachable') lostAt = serverSince;
  linkState = state;
  showBanner();
  showControls();
  if (state !== 'connected') showLevels(null);
}

function text(v) {
  return typeof v === 'string' && v.trim() !== '' ? v : '–';
}

function showUnit() {
  view.name.textContent = unit.name;
  document.title = `${unit.name} – Xelor unit`;
  view.address.textContent = unit.address;
  const u = unit.unit || {};
  view.processor.textContent = text(u.ProcessorName);
  const formats = Array.isArray(u.Formats) ? u.Formats : [];
  view.formatButtons.forEach((b, i) => {
    const name = formats[i] && typeof formats[i].Name === 'string' && formats[i].Name.trim() !== ''
      ? formats[i].Name : `Format ${i + 1}`;
    b.textContent = name;
    const current = u.CurrentFormat === i;
    b.setAttribute('aria-pressed', String(current));
    if (current) b.setAttribute('aria-current', 'true'); else b.removeAttribute('aria-current');
  });
  const known = typeof u.Film === 'boolean';
  view.film.textContent = known ? (u.Film ? 'On' : 'Off') : '–';
  view.mute.textContent = typeof u.Mute === 'boolean' ? (u.Mute ? 'Muted' : 'Not muted') : '–';
  view.theatreNumber.textContent = text(u.TheaterNumber);
  view.theatreName.textContent = text(u.TheaterName);
  view.screen.textContent = text(u.ScreenNumber);
  view.muteButton.setAttribute('aria-pressed', String(u.Mute === true));
  view.muteButton.textContent = u.Mute === true ? 'Unmute' : 'Mute';
  view.filmButton.setAttribute('aria-pressed', String(u.Film === true));
  view.filmButton.textContent = u.Film === true ? 'Film mode off' : 'Film mode on';
  showControls();
}

function showControls() {
  const allowed = controlsAllowed();
  view.formatButtons.forEach((b) => { b.disabled = !allowed || busy; });
  view.controls.hidden = !allowed;
  view.muteButton.disabled = busy;
  view.filmButton.disabled = busy;
  const needToken = unit !== null && unit.token_required === true;
  view.tokenForm.hidden = !needToken;
  view.tokenForget.hidden = token() === '';
}

function showChange(state, message) {
  view.change.dataset.state = state;
  view.change.textContent = message;
}

// --- reading ---------------------------------------------------------------

async function loadUnit() {
  let answer;
  try {
    const r = await fetch('/v1/unit', { cache: 'no-store' });
    if (!r.ok) throw new Error(`HTTP ${r.status}`);
    answer = await r.json();
  } catch (e) {
    setLink('unreachable');
    return;
  }
  unit = answer;
  showUnit();
  setLink(unit.state, Date.parse(unit.since));
  showLevels(unit.levels);
}

// Several events in a burst are read back once.
function loadSoon() {
  if (loadTimer !== null) return;
  loadTimer = setTimeout(() => { loadTimer = null; loadUnit(); }, 100);
}

function openEvents() {
  events = new EventSource('/v1/events');
  events.addEventListener('open', () => loadUnit());
  events.addEventListener('error', () => {
    // The browser tries again by itself unless the server answered with an
    // error; then a new stream is opened here.
    if (events.readyState === EventSource.CLOSED) setTimeout(openEvents, 2000);
    loadUnit();
  });
  events.addEventListener('Levels', (e) => {
    try {
      showLevels(JSON.parse(e.data));
    } catch (err) {
      // A reading that cannot be read is skipped; the next comes in 200 ms.
    }
  });
  events.addEventListener('State', (e) => {
    try {
      setLink(JSON.parse(e.data).state);
    } catch (err) {
      // The read-back below has the state too.
    }
    loadSoon();
  });
  for (const name of ['InputChange', 'ModeChange', 'MuteChange', 'AutomationChange', 'CommFail', 'message'])
    events.addEventListener(name, loadSoon);
}

// --- changing --------------------------------------------------------------

// One change at a time: pending until the server answers, then confirmed
// only when the value read back is the one asked for.
async function change(member, value, what, shown, button) {
  if (busy) return;
  busy = true;
  button.classList.add('pending');
  showControls();
  showChange('pending', `${what}: pending…`);
  const headers = { 'Content-Type': 'application/json' };
  if (token() !== '') headers.Authorization = `Bearer ${token()}`;
  let outcome;
  try {
    const r = await fetch(`/v1/members/${member}`, {
      method: 'PUT', headers, body: JSON.stringify({ value }), cache: 'no-store',
    });
    let body = null;
    try {
      body = await r.json();
    } catch (e) {
      body = null;
    }
    if (!r.ok) {
      const why = body && typeof body.error === 'string' ? body.error : `HTTP ${r.status}`;
      outcome = ['refused', `${what}: refused – ${why}`];
    } else if (!body || body.value !== value) {
      outcome = ['refused', `${what}: refused – the unit reports ${body ? shown(body.value) : 'nothing'}`];
    } else {
      outcome = ['confirmed', `${what}: confirmed`];
    }
  } catch (e) {
    outcome = ['refused', `${what}: refused – server not reachable`];
  }
  busy = false;
  button.classList.remove('pending');
  // The page shows the unit as it now is before it says how the change went.
  await loadUnit();
  showChange(...outcome);
}

function formatName(i) {
  const b = view.formatButtons[i];
  return b ? `“${b.textContent}”` : String(i);
}

function chooseFormat(i) {
  change('Format.CurrentFormat', i, `Format ${formatName(i)}`, formatName, view.formatButtons[i]);
}

// --- start -----------------------------------------------------------------

function start() {
  const $ = (id) => document.getElementById(id);
  Object.assign(view, {
    name: $('unit-name'), address: $('unit-address'), link: $('link'),
    banner: $('banner'), bannerText: $('banner-text'), bannerAge: $('banner-age'),
    processor: $('processor-name'), formats: $('formats'), bars: $('meter-bars'),
    film: $('film'), mute: $('mute'), theatreNumber: $('theatre-number'),
    theatreName: $('theatre-name'), screen: $('screen-number'), controls: $('controls'),
    muteButton: $('mute-button'), filmButton: $('film-button'), change: $('change'),
    tokenForm: $('token-form'), token: $('token'), tokenForget: $('token-forget'),
  });
  buildMeters();
  buildFormats();
  const onOff = (v) => (v ? 'on' : 'off');
  view.muteButton.addEventListener('click', () => {
    const to = !(unit && unit.unit && unit.unit.Mute === true);
    change('Xel.Mute', to, to ? 'Mute' : 'Unmute', (v) => (v ? 'muted' : 'not muted'), view.muteButton);
  });
  view.filmButton.addEventListener('click', () => {
    const to = !(unit && unit.unit && unit.unit.Film === true);
    change('Format.Film', to, `Film mode ${onOff(to)}`, (v) => `film mode ${onOff(v)}`, view.filmButton);
  });
  view.tokenForm.addEventListener('submit', (e) => {
    e.preventDefault();
    const t = view.token.value.trim();
    try {
      if (t !== '') sessionStorage.setItem(TOKEN_KEY, t);
    } catch (err) {
      showChange('refused', 'This browser keeps no session storage; the token cannot be kept.');
    }
    view.token.value = '';
    showControls();
  });
  view.tokenForget.addEventListener('click', () => {
    try {
      sessionStorage.removeItem(TOKEN_KEY);
    } catch (err) {
      // Nothing was kept.
    }
    showControls();
  });
  setInterval(showBanner, 1000);
  showBanner();
  loadUnit();
  openEvents();
}

document.addEventListener('DOMContentLoaded', start);
