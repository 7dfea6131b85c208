'use strict';

// The panel keeps one copy of the recorder's state, filled by the "status" and "sources" events
// that open every event stream and kept current by the change events that follow. Commands go out
// as GET /api requests; their answers only report success or a refusal, the state comes back
// through the stream.
(() => {
  // The recording's health, from the progress reports; "idle" shows nothing.
  const HEALTH = { recording: 'REC', stalled: 'STALLED', failed: 'FAILED', waiting: 'WAITING' };
  const TALLY = { 1: 'Preview', 2: 'Program' };
  const STALE_MS = 5000;        // the server pings ten times a second; silence this long means a dead link
  const RETRY_MIN_MS = 500;
  const RETRY_MAX_MS = 8000;

  const SNAPSHOT_MS = 1000;      // each slot's picture, about once a second
  const LOW_GIGABYTES = 10;

  const state = { recordingAll: false, slots: new Map(), sources: [], levels: {}, free: {} };
  const cards = new Map();

  const el = (id) => document.getElementById(id);
  const slotList = el('slots');
  const template = el('slot-template');
  const messages = el('messages');
  const link = el('link');
  const linkText = el('link-text');
  const recordAll = el('record-all');
  const listenOff = el('listen-off');
  const sourceList = el('source-list');
  const empty = el('empty');
  const recordingsTable = el('recordings');
  const recordingsEmpty = el('recordings-empty');
  const recordingsSection = el('recordings-section');
  const keyForm = el('key-form');
  const keyInput = el('key-input');
  const keyError = el('key-error');

  // ---- access key --------------------------------------------------------------------------

  // Asked for once (when the recorder answers 401) and kept in this browser.
  const KEY_STORE = 'stavelinRecorder.accessKey';
  let accessKey = '';
  try { accessKey = localStorage.getItem(KEY_STORE) || ''; } catch (error) { /* storage off: ask every time */ }

  function apiUrl(path, params) {
    const query = new URLSearchParams(params || {});
    if (accessKey)
      query.set('key', accessKey);
    const text = query.toString();
    return text ? path + '?' + text : path;
  }

  function askForKey(reason) {
    const wrong = reason === 'Access key wrong';
    if (wrong) {
      accessKey = '';
      try { localStorage.removeItem(KEY_STORE); } catch (error) { /* nothing kept */ }
    }
    clearTimeout(staleTimer);
    clearTimeout(retryTimer);
    if (source) {
      source.close();
      source = null;
    }
    setLink('locked', wrong ? 'Wrong access key' : 'Access key needed');
    // Nothing is known about slots or recordings until the recorder lets the panel in.
    recordingsSection.hidden = true;
    empty.hidden = true;
    keyError.textContent = wrong ? 'That key was refused. Try again.' : '';
    keyForm.hidden = false;
    keyInput.focus();
  }

  keyForm.addEventListener('submit', (event) => {
    event.preventDefault();
    accessKey = keyInput.value.trim();
    if (!accessKey)
      return;
    try { localStorage.setItem(KEY_STORE, accessKey); } catch (error) { /* kept for this page only */ }
    keyInput.value = '';
    keyForm.hidden = true;
    retryMs = RETRY_MIN_MS;
    open();
  });

  // Whether the recorder refuses this panel's key; a network failure is not a refusal.
  async function refusal() {
    try {
      const response = await fetch(apiUrl('api', { command: 'status' }), { cache: 'no-store' });
      if (response.status !== 401)
        return '';
      const answer = await response.json().catch(() => ({}));
      return answer.reason || 'Access key required';
    } catch (error) {
      return '';
    }
  }

  // ---- messages ----------------------------------------------------------------------------

  function showMessage(text, kind) {
    const item = document.createElement('p');
    item.className = 'message ' + (kind || 'error');
    item.textContent = text;
    const close = document.createElement('button');
    close.type = 'button';
    close.className = 'close';
    close.setAttribute('aria-label', 'Dismiss');
    close.textContent = '×';
    close.addEventListener('click', () => item.remove());
    item.append(close);
    messages.prepend(item);
    while (messages.children.length > 4)
      messages.lastElementChild.remove();
    setTimeout(() => item.remove(), 8000);
  }

  // ---- commands ----------------------------------------------------------------------------

  async function command(what, params, label) {
    let answer;
    try {
      const response = await fetch(apiUrl('api', Object.assign({ command: what }, params || {})), { cache: 'no-store' });
      if (response.status === 401) {
        const refused = await response.json().catch(() => ({}));
        askForKey(refused.reason);
        return false;
      }
      if (!response.ok)
        throw new Error('HTTP ' + response.status);
      answer = await response.json();
    } catch (error) {
      showMessage(label + ': the recorder did not answer (' + error.message + ').');
      return false;
    }
    if (answer.result !== 'success') {
      showMessage(label + ': ' + (answer.reason || 'refused') + '.');
      return false;
    }
    return true;
  }

  // ---- rendering ---------------------------------------------------------------------------

  function slotTitle(slot) {
    if (slot.displayName)
      return slot.displayName;
    return slot.source && slot.source !== 'none' ? slot.source : 'Slot ' + slot.id;
  }

  function createCard(id) {
    const item = template.content.firstElementChild.cloneNode(true);
    item.dataset.id = id;
    const q = (selector) => item.querySelector(selector);
    const label = () => 'Slot ' + id;

    q('.state').addEventListener('mouseenter', (event) => loadHistory(id, event.currentTarget));
    q('.act-record').addEventListener('click', () => command('recording_start', { slot: id }, label() + ' record'));
    q('.act-stop').addEventListener('click', () => command('recording_stop', { slot: id }, label() + ' stop'));
    q('.act-listen').addEventListener('click', () => command('listen', { slot: id }, label() + ' listen'));
    q('.act-disconnect').addEventListener('click', () => command('disconnect', { slot: id }, label() + ' disconnect'));
    q('.act-more').addEventListener('click', (event) => {
      const open = item.classList.toggle('more-open');
      event.currentTarget.setAttribute('aria-expanded', open ? 'true' : 'false');
    });
    q('.act-connect').addEventListener('submit', async (event) => {
      event.preventDefault();
      const input = event.target.elements.source;
      const source = input.value.trim();
      if (!source)
        return;
      if (await command('connect', { slot: id, source }, label() + ' connect'))
        input.value = '';
    });
    q('.act-rename').addEventListener('submit', async (event) => {
      event.preventDefault();
      const input = event.target.elements.name;
      if (await command('rename', { slot: id, name: input.value }, label() + ' rename'))
        input.dataset.dirty = '';
    });
    q('.act-rename input').addEventListener('input', (event) => { event.target.dataset.dirty = '1'; });

    const idText = q('.slot-id');
    idText.textContent = id;
    idText.setAttribute('aria-label', 'Slot ' + id);
    for (const button of item.querySelectorAll('.slot-actions button'))
      button.setAttribute('aria-label', button.textContent + ' slot ' + id);
    return item;
  }

  function renderSlot(slot) {
    let item = cards.get(slot.id);
    if (!item) {
      item = createCard(slot.id);
      cards.set(slot.id, item);
      // Keep numeric order even if a slot turns up late.
      const after = [...cards.keys()].map(Number).sort((a, b) => a - b).find((k) => k > Number(slot.id));
      slotList.insertBefore(item, after === undefined ? null : cards.get(String(after)));
    }
    const q = (selector) => item.querySelector(selector);
    const connected = slot.source && slot.source !== 'none';
    item.dataset.state = slot.recording;
    item.dataset.tally = String(slot.tally);
    item.dataset.connected = connected ? '1' : '0';
    q('.slot-title').textContent = slotTitle(slot);
    q('.source-name').textContent = connected ? slot.source : 'not connected';
    const tally = q('.tally');
    tally.hidden = !TALLY[slot.tally];
    tally.textContent = TALLY[slot.tally] || '';
    const busy = slot.recording !== 'ready';
    q('.act-record').disabled = busy || !connected;
    q('.act-stop').disabled = !busy;
    q('.act-disconnect').disabled = busy || !connected;
    q('.act-listen').disabled = !connected;
    const progress = slot.progress || {};
    // What the recorder says the slot shows; the panel only draws it.
    const view = slot.view;
    if (view) {
      item.dataset.word = view.word;
      q('.state').textContent = view.label;
    }
    const health = HEALTH[progress.state];
    item.dataset.health = progress.state || 'idle';
    const badge = view && (view.busy || view.word === 'failed')
      ? view.label + (view.busy && view.word !== 'waiting' ? ' ' + clock(view.wallMs / 1000) : '')
      : '';
    q('.elapsed').textContent = badge;
    q('.piece').textContent = health && progress.piece > 0
      ? 'piece ' + progress.piece + (progress.location ? ' on ' + progress.location : '') + ', ' + progress.totalFrames + ' frames'
        + (view && view.droppedFrames > 0 ? ', ' + view.droppedFrames + ' lost' : '')
      : '';
    q('.slot-warning').textContent = view ? view.warning : progress.warning || '';
    q('.badge-rec').textContent = badge;
    q('.file-name').textContent = health && progress.file ? progress.file.split(/[\\/]/).pop() : '';
    if (!connected)
      q('.snapshot').hidden = true;
    q('.picture-none').textContent = connected ? 'No picture yet' : 'Not connected';
    renderMeters(slot.id);
    const rename = q('.act-rename input');
    if (!rename.dataset.dirty && document.activeElement !== rename)
      rename.value = slot.displayName;
  }

  function renderMeters(id) {
    const item = cards.get(String(id));
    if (!item)
      return;
    const levels = state.levels[id] || [0, 0];
    const connected = item.dataset.connected === '1';
    item.querySelectorAll('.meter').forEach((bar, i) => {
      const level = connected ? Math.max(0, Math.min(100, Number(levels[i]) || 0)) : 0;
      bar.style.height = level + '%';
      bar.style.setProperty('--full', level > 0 ? (10000 / level) + '%' : '100%');
    });
    const free = item.querySelector('.free');
    const gigabytes = state.free[id];
    free.textContent = connected && gigabytes !== undefined ? Number(gigabytes).toFixed(1) + ' GB free' : '';
    free.dataset.low = connected && gigabytes !== undefined && gigabytes < LOW_GIGABYTES ? '1' : '0';
  }

  // One picture request per slot at a time; a failed one shows the placeholder until the next.
  function refreshPictures() {
    for (const [id, item] of cards) {
      if (item.dataset.connected !== '1' || link.dataset.state !== 'live')
        continue;
      const image = item.querySelector('.snapshot');
      if (image.dataset.loading === '1')
        continue;
      image.dataset.loading = '1';
      image.onload = () => { image.dataset.loading = ''; image.hidden = false; };
      image.onerror = () => { image.dataset.loading = ''; image.hidden = true; };
      image.src = apiUrl('api/snapshot', { slot: id, t: String(Date.now()) });
    }
  }
  setInterval(refreshPictures, SNAPSHOT_MS);

  // ---- confirmation ------------------------------------------------------------------------

  const confirmDialog = el('confirm');
  function confirmFirst(title, text, yes) {
    return new Promise((resolve) => {
      el('confirm-title').textContent = title;
      el('confirm-text').textContent = text;
      el('confirm-yes').textContent = yes;
      confirmDialog.returnValue = '';
      confirmDialog.addEventListener('close', () => resolve(confirmDialog.returnValue === 'yes'), { once: true });
      confirmDialog.showModal();
    });
  }

  function renderAll() {
    for (const [id, item] of cards) {
      if (!state.slots.has(id)) {
        item.remove();
        cards.delete(id);
      }
    }
    for (const slot of state.slots.values())
      renderSlot(slot);
    renderHeader();
  }

  function renderHeader() {
    recordAll.textContent = state.recordingAll ? 'Stop all' : 'Start all';
    recordAll.classList.toggle('active', state.recordingAll);
    recordAll.setAttribute('aria-pressed', state.recordingAll ? 'true' : 'false');
    empty.hidden = state.slots.size > 0;
  }

  function renderSources() {
    const options = state.sources.map((name) => {
      const option = document.createElement('option');
      option.value = name;
      return option;
    });
    sourceList.replaceChildren(...options);
  }

  function seconds(record) {
    return (record.pieces || []).reduce((sum, piece) => sum + (Number(piece.duration) || 0), 0);
  }

  // Frames the source sent that the recording lacks; older records only know their gaps.
  function lostFrames(record) {
    return Number(record.droppedFrames !== undefined ? record.droppedFrames : record.gapFrames) || 0;
  }

  function clock(total) {
    const s = Math.round(total);
    const pad = (n) => String(n).padStart(2, '0');
    return pad(Math.floor(s / 3600)) + ':' + pad(Math.floor(s / 60) % 60) + ':' + pad(s % 60);
  }

  // Every slot's state word and label at once; the stream then tells each change.
  async function loadViews() {
    try {
      const response = await fetch(apiUrl('api', { command: 'state' }), { cache: 'no-store' });
      for (const view of (await response.json()).state || []) {
        const slot = state.slots.get(String(view.id));
        if (slot && !slot.view) { slot.view = view; renderSlot(slot); }
      }
    } catch (error) {
      // The stream's events fill them in.
    }
  }

  // The slot's last events, for the card's tooltip.
  async function loadHistory(id, target) {
    try {
      const response = await fetch(apiUrl('api', { command: 'history', slot: id }), { cache: 'no-store' });
      const lines = ((await response.json()).history || []).map((e) => e.time.slice(11, 19) + ' ' + e.text);
      target.title = lines.join('\n');
    } catch (error) {
      target.title = '';
    }
  }

  async function loadRecordings() {
    let answer;
    try {
      const response = await fetch(apiUrl('api', { command: 'recordings' }), { cache: 'no-store' });
      if (!response.ok)
        return;
      answer = await response.json();
    } catch (error) {
      return;
    }
    const rows = (answer.recordings || []).map((record) => {
      const row = document.createElement('tr');
      const cells = [record.source, record.slot, (record.start || '').replace('T', ' ').slice(0, 19),
        clock(seconds(record)), (record.pieces || []).length, lostFrames(record),
        record.stopReason ? record.stopReason : 'recording'];
      for (const text of cells) {
        const cell = document.createElement('td');
        cell.textContent = String(text);
        row.append(cell);
      }
      row.dataset.gap = lostFrames(record) > 0 ? '1' : '0';
      row.title = record.record || '';
      return row;
    });
    recordingsTable.tBodies[0].replaceChildren(...rows);
    recordingsTable.hidden = rows.length === 0;
    recordingsEmpty.hidden = rows.length > 0;
    recordingsSection.hidden = false;
  }

  // ---- events ------------------------------------------------------------------------------

  function applyEvent(data) {
    const slot = data.slot !== undefined ? state.slots.get(String(data.slot)) : undefined;
    switch (data.event) {
    case 'status':
      state.recordingAll = data.recording_all === '1';
      state.slots = new Map(Object.values(data.slots || {}).map((s) => [String(s.id), s]));
      renderAll();
      loadRecordings();
      loadViews();
      break;
    case 'sources':
      state.sources = Array.isArray(data.sources) ? data.sources : [];
      renderSources();
      break;
    case 'recording_all':
      state.recordingAll = data.state === '1';
      renderHeader();
      break;
    case 'recording':
      if (slot) { slot.recording = data.state; renderSlot(slot); }
      if (data.state !== 'waiting')
        loadRecordings();
      break;
    case 'progress': {
      const target = state.slots.get(String(data.id));
      if (target) { target.progress = data; renderSlot(target); }
      break;
    }
    case 'state': {
      const target = state.slots.get(String(data.id));
      if (target) { target.view = data; renderSlot(target); }
      break;
    }
    case 'levels':
      state.levels = data.levels || {};
      state.free = data.freeGigabytes || {};
      for (const id of cards.keys())
        renderMeters(id);
      break;
    case 'warning':
      showMessage('Slot ' + data.id + ': ' + data.message + '.', 'warning');
      break;
    case 'tally':
      if (slot) { slot.tally = Number(data.state); renderSlot(slot); }
      break;
    case 'connected':
      if (slot) { slot.source = data.source; renderSlot(slot); }
      break;
    case 'rename':
      if (slot) {
        slot.displayName = data.name;
        item(slot.id).querySelector('.act-rename input').dataset.dirty = '';
        renderSlot(slot);
      }
      break;
    default:
      break;
    }
  }

  const item = (id) => cards.get(String(id));

  let source = null;
  let retryMs = RETRY_MIN_MS;
  let retryTimer = 0;
  let staleTimer = 0;

  function setLink(which, text) {
    link.dataset.state = which;
    linkText.textContent = text;
    const live = which === 'live';
    recordAll.disabled = !live;
    listenOff.disabled = !live;
    document.body.classList.toggle('offline', !live);
  }

  function touch() {
    clearTimeout(staleTimer);
    staleTimer = setTimeout(() => reconnect('No news from the recorder'), STALE_MS);
  }

  function reconnect(why) {
    if (source) {
      source.close();
      source = null;
    }
    clearTimeout(staleTimer);
    clearTimeout(retryTimer);
    const seconds = Math.max(1, Math.round(retryMs / 1000));
    setLink('offline', why + ' — retrying in ' + seconds + ' s');
    retryTimer = setTimeout(open, retryMs);
    retryMs = Math.min(retryMs * 2, RETRY_MAX_MS);
  }

  function open() {
    setLink('connecting', 'Connecting…');
    // The browser retries a dropped stream by itself, but not one that was refused (503 when the
    // recorder already serves five panels), so every failure is handled here the same way.
    source = new EventSource(apiUrl('api/events'));
    touch();
    source.onmessage = (message) => {
      touch();
      if (link.dataset.state !== 'live') {
        retryMs = RETRY_MIN_MS;
        setLink('live', 'Live');
      }
      if (message.data === 'ping')
        return;
      let data;
      try {
        data = JSON.parse(message.data);
      } catch (error) {
        return;
      }
      applyEvent(data);
    };
    // An EventSource does not tell a refused key from a lost link: the recorder is asked.
    source.onerror = async () => {
      const stream = source;
      if (stream)
        stream.close();
      const reason = await refusal();
      if (source !== stream)
        return;
      if (reason)
        askForKey(reason);
      else
        reconnect('Connection lost');
    };
  }

  // Everything at once is asked for first.
  recordAll.addEventListener('click', async () => {
    if (state.recordingAll) {
      if (await confirmFirst('Stop all recordings?', 'Every recording in progress stops now.', 'Stop all'))
        command('recording_stop', { slot: 0 }, 'Stop all');
    } else if (await confirmFirst('Start all recordings?', 'Every connected slot starts recording.', 'Start all')) {
      command('recording_start', { slot: 0 }, 'Start all');
    }
  });
  listenOff.addEventListener('click', () => command('listen_off', {}, 'Listen off'));

  // Exposed for the browser test and for debugging from the console.
  window.recorderPanel = { state, showMessage, reconnect: () => reconnect('Reconnect requested') };

  open();
})();
