// The page: file list, save options, batch conversion and the texture viewer. All codec
// work happens in the worker (worker.js); this thread only draws and asks.
'use strict';
(function () {
  const { CONTENT_TYPES, QUANTIZERS, DEFAULT_OPTIONS, Status } = window.VellumCodec;
  const $ = (id) => document.getElementById(id);

  // ---------------------------------------------------------------------------------
  // The worker and its requests

  let worker = null;
  let generation = 0;        // raised each time the worker is (re)started
  let nextId = 1;
  const pending = new Map(); // id -> { resolve, reject, onProgress }
  let workerInfo = null;
  let workerReady = null;

  function startWorker() {
    generation += 1;
    const source = window.VELLUM_WORKER_SOURCE;
    worker = source
      ? new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })))
      : new Worker('worker.js');
    workerReady = new Promise((resolve, reject) => {
      worker.onmessage = (event) => {
        const m = event.data;
        if (m.ready !== undefined) {
          if (m.ready) { workerInfo = m; resolve(m); } else reject(new Error(m.error));
          return;
        }
        const waiting = pending.get(m.id);
        if (!waiting) return;
        if (m.progress !== undefined) {
          if (waiting.onProgress) waiting.onProgress(m.progress);
          return;
        }
        pending.delete(m.id);
        if (m.error) waiting.reject(new WorkerError(m.error)); else waiting.resolve(m);
      };
      worker.onerror = (event) => {
        event.preventDefault();
        failWorker(new WorkerError(event.message || 'the worker stopped'));
        reject(new Error('the codec could not be started'));
      };
    });
  }

  class WorkerError extends Error {}

  // A request the worker could not finish may have left the module unusable (an abort):
  // every waiting request fails and a fresh worker takes over.
  function failWorker(error) {
    for (const waiting of pending.values()) waiting.reject(error);
    pending.clear();
    worker.terminate();
    startWorker();
  }

  async function call(op, payload, transfer, onProgress) {
    await workerReady;
    const id = nextId++;
    const answer = new Promise((resolve, reject) => pending.set(id, { resolve, reject, onProgress }));
    worker.postMessage(Object.assign({ op, id }, payload), transfer || []);
    try {
      return await answer;
    } catch (error) {
      if (error instanceof WorkerError && /RuntimeError|Aborted|unreachable/.test(error.message)) {
        failWorker(error);
      }
      throw error;
    }
  }

  // ---------------------------------------------------------------------------------
  // Save options (the Save Options dialog's fields and defaults)

  function fillSelect(select, names) {
    names.forEach((name, i) => select.add(new Option(name, String(i))));
  }
  fillSelect($('opt-format'), CONTENT_TYPES);
  fillSelect($('opt-quantizer'), QUANTIZERS);

  function readOptions() {
    const mips = Math.min(16, Math.max(1, parseInt($('opt-mips').value, 10) || 16));
    return {
      contentType: Number($('opt-format').value),
      quantizer: Number($('opt-quantizer').value),
      quality: Number($('opt-quality').value),
      progressive: $('opt-progressive').checked,
      maxLevels: mips,
    };
  }

  function writeOptions(o) {
    $('opt-format').value = String(o.contentType);
    $('opt-quantizer').value = String(o.quantizer);
    $('opt-quality').value = String(o.quality);
    $('opt-progressive').checked = o.progressive;
    $('opt-mips').value = String(o.maxLevels);
    syncOptions();
  }

  // As in the dialog: quality and progressive mean something for JPEG formats, the
  // quantizer for paletted ones.
  function syncOptions() {
    const type = Number($('opt-format').value);
    const jpeg = type === 0 || type === 2;
    const paletted = type === 1 || type === 3 || type === 5 || type === 6;
    $('opt-quality').disabled = !jpeg;
    $('opt-progressive').disabled = !jpeg;
    $('opt-quantizer').disabled = !paletted;
    $('opt-quality-text').textContent = $('opt-quality').value;
  }

  for (const id of ['opt-format', 'opt-quantizer', 'opt-quality', 'opt-progressive', 'opt-mips']) {
    $(id).addEventListener('input', syncOptions);
  }
  $('opt-mips').addEventListener('change', () => {
    $('opt-mips').value = String(readOptions().maxLevels);
  });
  $('reset-options').addEventListener('click', () => writeOptions(DEFAULT_OPTIONS));
  writeOptions(DEFAULT_OPTIONS);

  // ---------------------------------------------------------------------------------
  // Files

  const entries = [];
  let nextKey = 1;
  let queue = Promise.resolve();
  let busy = 0;
  let selected = null;

  function kindOf(name) {
    const lower = name.toLowerCase();
    if (lower.endsWith('.blp')) return 'blp';
    if (lower.endsWith('.png')) return 'png';
    if (lower.endsWith('.jpg') || lower.endsWith('.jpeg')) return 'jpeg';
    return 'other';
  }

  function baseName(name) {
    const dot = name.lastIndexOf('.');
    return dot > 0 ? name.slice(0, dot) : name;
  }

  function addFiles(fileList) {
    const files = Array.from(fileList);
    if (files.length === 0) return;
    $('overall').hidden = false;
    for (const file of files) {
      const entry = {
        key: nextKey++, name: file.name, kind: kindOf(file.name), type: file.type, file,
        bytes: null, state: 'queued', message: 'waiting', progress: 0, output: null,
        description: null, levels: [], openIn: 0, view: null,
      };
      entries.push(entry);
      drawEntry(entry);
      enqueue(entry);
    }
    updateOverall();
  }

  function enqueue(entry) {
    busy += 1;
    updateOverall();
    queue = queue.then(() => processEntry(entry)).catch((error) => {
      setState(entry, 'failed', `internal error: ${error.message}`);
    }).then(() => {
      busy -= 1;
      updateOverall();
      if (selected === entry) showViewer(entry);
    });
  }

  async function processEntry(entry) {
    setState(entry, 'working', 'reading', 0);
    if (!entry.bytes) entry.bytes = await entry.file.arrayBuffer();
    if (entry.kind === 'blp') return convertBlp(entry);
    if (entry.kind === 'png' || entry.kind === 'jpeg') return encodeImage(entry);
    setState(entry, 'failed', 'not a .blp, .png or .jpg file');
  }

  // Opens an entry's BLP bytes in the current worker (again after a restart).
  async function ensureOpen(target) {
    if (target.openIn === generation) return true;
    const answer = await call('open', { key: target.key, bytes: target.blpBytes.slice(0) });
    if (answer.status !== Status.OK) {
      target.openError = answer.message;
      return false;
    }
    target.openIn = generation;
    target.description = answer.description;
    return true;
  }

  // The levels of a BLP the page decodes: the stored ones of the chain (level 0 always,
  // so that its trouble is reported).
  function levelsToDecode(description) {
    const list = [0];
    for (const level of description.levels) {
      if (level.level > 0 && level.state === 'stored' && level.level < description.chainLength) list.push(level.level);
    }
    return list;
  }

  async function decodeAll(target, onLevel) {
    const list = levelsToDecode(target.description);
    target.levels = [];
    for (let i = 0; i < list.length; i++) {
      const answer = await call('decode', { key: target.key, level: list[i] });
      const level = answer.level;
      level.index = list[i];
      target.levels.push(level);
      if (onLevel) onLevel(i + 1, list.length);
    }
  }

  function levelProblems(target) {
    const problems = [];
    for (const level of target.levels) {
      if (level.status === Status.OK) continue;
      const text = level.message || statusWord(level.status);
      problems.push(text.startsWith(`level ${level.index} `) ? text : `level ${level.index}: ${text}`);
    }
    return problems;
  }

  // One line for the file list: the first findings, the rest counted (the level table
  // has them all).
  function problemSummary(problems) {
    if (problems.length <= 2) return problems.join('; ');
    return `${problems[0]}; ${problems.length - 1} more levels damaged (see the level table)`;
  }

  function statusWord(status) {
    return status === Status.WARNING ? 'repaired damage' : status === Status.DAMAGED ? 'damaged' : `error ${status}`;
  }

  async function convertBlp(entry) {
    entry.blpBytes = entry.bytes;
    entry.openIn = 0;
    if (!(await ensureOpen(entry))) return setState(entry, 'failed', entry.openError);
    setState(entry, 'working', 'decoding', 5);
    await decodeAll(entry, (done, total) => setState(entry, 'working', `decoding level ${done} of ${total}`, 5 + 85 * done / total));
    const first = entry.levels[0];
    const problems = levelProblems(entry);
    if (first.status < 0 && first.status !== Status.DAMAGED) {
      return setState(entry, 'failed', problemSummary(problems));
    }
    const png = (await call('png', { key: entry.key, level: 0, salvage: true })).result;
    if (!png.bytes) return setState(entry, 'failed', png.message);
    entry.output = { name: `${baseName(entry.name)}.png`, bytes: png.bytes };
    const d = entry.description;
    const what = `${d.signature} ${d.content}, ${d.width} x ${d.height}, ${entry.levels.length} level${entry.levels.length > 1 ? 's' : ''}`;
    if (first.status === Status.DAMAGED) {
      setState(entry, 'warning', `${what}. Damaged: ${problemSummary(problems)}. The PNG holds what could be recovered.`, 100);
    } else if (problems.length) {
      setState(entry, 'warning', `${what}. ${problemSummary(problems)}. PNG ready.`, 100);
    } else {
      setState(entry, 'done', `${what}. PNG ready.`, 100);
    }
  }

  async function encodeImage(entry) {
    const options = entry.options || readOptions();
    entry.options = options;
    entry.view = null;
    setState(entry, 'working', 'encoding', 0);
    const answer = await call('encode', { kind: entry.kind, type: entry.type || 'image/jpeg', bytes: entry.bytes.slice(0), options },
      null, (percent) => setState(entry, 'working', `encoding ${percent}%`, percent));
    const result = answer.result;
    if (!result.bytes) return setState(entry, 'failed', result.message);
    entry.output = { name: `${baseName(entry.name)}.blp`, bytes: result.bytes };
    setState(entry, 'done', `${CONTENT_TYPES[options.contentType]}, ${result.width} x ${result.height}, ${result.bytes.length} bytes. BLP ready.`, 100);
  }

  // ---------------------------------------------------------------------------------
  // The file list

  function drawEntry(entry) {
    const li = document.createElement('li');
    const name = document.createElement('button');
    name.type = 'button';
    name.className = 'name';
    name.textContent = entry.name;
    name.setAttribute('aria-describedby', `state-${entry.key}`);
    name.addEventListener('click', () => select(entry));
    const save = document.createElement('button');
    save.type = 'button';
    save.className = 'save';
    save.disabled = true;
    save.textContent = 'Download';
    save.addEventListener('click', () => entry.output && download(entry.output.name, entry.output.bytes));
    const progress = document.createElement('progress');
    progress.max = 100;
    progress.value = 0;
    progress.setAttribute('aria-label', `${entry.name} progress`);
    const state = document.createElement('div');
    state.className = 'state';
    state.id = `state-${entry.key}`;
    li.append(name, save, progress, state);
    entry.row = { li, save, progress, state };
    $('file-list').append(li);
    setState(entry, entry.state, entry.message, 0);
  }

  function setState(entry, state, message, progress) {
    entry.state = state;
    entry.message = message;
    if (progress !== undefined) entry.progress = progress;
    const row = entry.row;
    row.li.dataset.state = state;
    row.state.textContent = message;
    row.state.className = `state ${state === 'failed' ? 'error' : state === 'warning' ? 'warning' : state === 'done' ? 'done' : ''}`;
    row.progress.value = state === 'failed' ? 100 : entry.progress;
    row.save.disabled = !entry.output;
    row.save.textContent = entry.output ? `Download ${entry.output.name.endsWith('.blp') ? 'BLP' : 'PNG'}` : 'Download';
    updateOverall();
  }

  function updateOverall() {
    const total = entries.length;
    const finished = entries.filter((e) => e.state === 'done' || e.state === 'warning' || e.state === 'failed').length;
    const sum = entries.reduce((s, e) => s + (e.state === 'failed' ? 100 : e.progress), 0);
    $('overall-progress').value = total ? sum / total : 0;
    $('overall-text').textContent = total ? `${finished} of ${total} files` : '';
    const outputs = entries.filter((e) => e.output).length;
    $('download-all').disabled = busy > 0 || outputs === 0;
    $('clear').disabled = busy > 0 || total === 0;
    $('reconvert').disabled = busy > 0 || !entries.some((e) => e.kind === 'png' || e.kind === 'jpeg');
    document.body.dataset.busy = busy > 0 ? 'yes' : 'no';
  }

  $('file-picker').addEventListener('change', (event) => {
    addFiles(event.target.files);
    event.target.value = '';
  });

  const dropZone = $('drop-zone');
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    dropZone.classList.add('dragging');
  });
  document.addEventListener('dragleave', (event) => {
    if (event.relatedTarget === null) dropZone.classList.remove('dragging');
  });
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    dropZone.classList.remove('dragging');
    if (event.dataTransfer) addFiles(event.dataTransfer.files);
  });

  $('reconvert').addEventListener('click', () => {
    const options = readOptions();
    for (const entry of entries) {
      if (entry.kind !== 'png' && entry.kind !== 'jpeg') continue;
      entry.options = options;
      entry.output = null;
      setState(entry, 'queued', 'waiting', 0);
      enqueue(entry);
    }
  });

  $('clear').addEventListener('click', async () => {
    for (const entry of entries) {
      if (entry.openIn === generation) await call('close', { key: entry.key });
      if (entry.view && entry.view.openIn === generation) await call('close', { key: entry.view.key });
    }
    entries.length = 0;
    $('file-list').textContent = '';
    selected = null;
    $('viewer').hidden = true;
    $('overall').hidden = true;
    updateOverall();
  });

  // Output names in the zip: unique, a number added to repeats.
  function zipNames(list) {
    const used = new Set();
    return list.map((entry) => {
      let name = entry.output.name;
      for (let n = 2; used.has(name.toLowerCase()); n++) name = `${baseName(entry.output.name)} (${n})${entry.output.name.slice(baseName(entry.output.name).length)}`;
      used.add(name.toLowerCase());
      return name;
    });
  }

  $('download-all').addEventListener('click', async () => {
    const list = entries.filter((e) => e.output);
    const names = zipNames(list);
    const files = list.map((e, i) => ({ name: names[i], bytes: e.output.bytes.slice(0), store: e.output.name.endsWith('.png') }));
    $('download-all').disabled = true;
    try {
      const answer = await call('zip', { entries: files }, files.map((f) => f.bytes.buffer));
      download('vellum-converted.zip', answer.bytes);
    } finally {
      updateOverall();
    }
  });

  function download(name, bytes) {
    const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    const a = document.createElement('a');
    a.href = url;
    a.download = name;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  }

  // ---------------------------------------------------------------------------------
  // The viewer

  let shownLevel = 0;

  function select(entry) {
    selected = entry;
    for (const e of entries) e.row.li.classList.toggle('selected', e === entry);
    showViewer(entry);
  }

  // What the viewer shows for an entry: the BLP itself, or the BLP a PNG or JPEG became.
  async function viewTarget(entry) {
    if (entry.kind === 'blp') return entry.description ? entry : null;
    if (!entry.output) return null;
    if (!entry.view || entry.view.blpBytes !== entry.output.bytes) {
      entry.view = { key: `${entry.key}:out`, name: entry.output.name, blpBytes: entry.output.bytes, openIn: 0, levels: [] };
    }
    const view = entry.view;
    if (view.openIn !== generation || view.levels.length === 0) {
      if (!(await ensureOpen(view))) return null;
      await decodeAll(view);
    }
    return view;
  }

  async function showViewer(entry) {
    const viewer = $('viewer');
    viewer.hidden = false;
    const message = $('viewer-message');
    const target = entry.state === 'working' || entry.state === 'queued' ? null : await viewTarget(entry);
    if (selected !== entry) return;
    $('viewer-title').textContent = target ? target.name : entry.name;
    message.className = entry.state === 'failed' ? 'error' : entry.state === 'warning' ? 'warning' : '';
    message.textContent = entry.state === 'failed' || entry.state === 'warning' ? entry.message : '';
    if (!target) {
      if (entry.state !== 'failed') message.textContent = 'Converting…';
      $('info').textContent = '';
      $('levels').tBodies[0].textContent = '';
      $('level-picker').textContent = '';
      drawLevel(null);
      return;
    }
    drawInfo(target);
    shownLevel = target.levels.some((l) => l.index === shownLevel) ? shownLevel : 0;
    drawLevelPicker(target);
    drawLevel(target.levels.find((l) => l.index === shownLevel));
  }

  function drawInfo(target) {
    const d = target.description;
    const alpha = d.alphaBits ? `${d.alphaBits}-bit alpha` : 'opaque';
    const rows = [
      ['Signature', d.signature],
      ['Content', d.content],
      ['Alpha depth', `${d.alphaDepth} (decodes ${alpha})`],
      ['Size', `${d.width} x ${d.height}`],
      ['File', `${d.fileSize} bytes`],
      ['Decodes as', `${d.bitsPerPixel}-bit ${d.layout === 0 ? 'indices with a palette' : d.bitsPerPixel === 24 ? 'RGB' : 'RGBA'}`],
    ];
    if (d.jpegHeaderSize !== undefined) rows.push(['Shared JPEG header', `${d.jpegHeaderSize} bytes`]);
    const info = $('info');
    info.textContent = '';
    for (const [term, value] of rows) {
      const dt = document.createElement('dt');
      dt.textContent = term;
      const dd = document.createElement('dd');
      dd.textContent = value;
      info.append(dt, dd);
    }
    const body = $('levels').tBodies[0];
    body.textContent = '';
    for (const level of d.levels) {
      const decoded = target.levels.find((l) => l.index === level.level);
      const notes = [];
      if (level.state === 'repeated') notes.push(`repeats level ${level.repeats}`);
      if (level.state === 'empty') notes.push('empty');
      if (level.beyondChain) notes.push('beyond the 1 x 1 level');
      // The decode's own report covers what the table showed; without one, the table's.
      if (decoded && decoded.status !== Status.OK) notes.push(decoded.message || statusWord(decoded.status));
      else if (level.damage) notes.push(level.damage);
      const damaged = Boolean(level.damage) || (decoded && decoded.status < 0);
      if (notes.length === 0) notes.push(level.state === 'stored' ? 'ok' : level.state);
      const tr = document.createElement('tr');
      if (damaged) tr.className = 'damaged';
      for (const cell of [level.level, `${level.width} x ${level.height}`, level.offset, level.size, (damaged ? '⚠ ' : '') + notes.join('; ')]) {
        const td = document.createElement('td');
        td.textContent = String(cell);
        tr.append(td);
      }
      body.append(tr);
    }
  }

  function drawLevelPicker(target) {
    const picker = $('level-picker');
    picker.textContent = '';
    for (const level of target.levels) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = String(level.index);
      button.title = `Level ${level.index}: ${level.width} x ${level.height}`;
      button.setAttribute('aria-label', `Level ${level.index}, ${level.width} by ${level.height}`);
      button.setAttribute('aria-pressed', String(level.index === shownLevel));
      button.addEventListener('click', () => {
        shownLevel = level.index;
        drawLevelPicker(target);
        drawLevel(level);
      });
      picker.append(button);
    }
  }

  let shown = null;

  function drawLevel(level) {
    shown = level && level.bytes ? level : null;
    const canvas = $('canvas');
    if (!shown) {
      canvas.width = canvas.height = 1;
      canvas.getContext('2d').clearRect(0, 0, 1, 1);
      $('save-level').disabled = $('save-levels').disabled = true;
      return;
    }
    canvas.width = shown.width;
    canvas.height = shown.height;
    const pixels = new Uint8ClampedArray(shown.bytes.buffer, shown.bytes.byteOffset, shown.bytes.byteLength);
    canvas.getContext('2d').putImageData(new ImageData(pixels, shown.width, shown.height), 0, 0);
    $('save-level').disabled = $('save-levels').disabled = false;
    applyZoom();
  }

  function applyZoom() {
    if (!shown) return;
    const canvas = $('canvas');
    let zoom = $('zoom').value;
    if (zoom === 'fit') {
      const room = $('stage').clientWidth - 20;
      zoom = Math.min(8, Math.max(1 / 16, room / shown.width));
    }
    canvas.style.width = `${Math.max(1, Math.round(shown.width * Number(zoom)))}px`;
    canvas.style.height = `${Math.max(1, Math.round(shown.height * Number(zoom)))}px`;
  }

  $('zoom').addEventListener('change', applyZoom);
  window.addEventListener('resize', applyZoom);
  $('stage').addEventListener('keydown', (event) => {
    const steps = Array.from($('zoom').options).map((o) => o.value);
    let i = steps.indexOf($('zoom').value);
    if (event.key === '+' || event.key === '=') i = Math.min(steps.length - 1, Math.max(1, i + 1));
    else if (event.key === '-') i = Math.max(1, i - 1);
    else return;
    event.preventDefault();
    $('zoom').value = steps[i];
    applyZoom();
  });

  async function viewedTarget() {
    return selected ? viewTarget(selected) : null;
  }

  $('save-level').addEventListener('click', async () => {
    const target = await viewedTarget();
    if (!target) return;
    const answer = (await call('png', { key: target.key, level: shownLevel, salvage: true })).result;
    if (answer.bytes) download(`${baseName(target.name)}.mip${shownLevel}.png`, answer.bytes);
  });

  $('save-levels').addEventListener('click', async () => {
    const target = await viewedTarget();
    if (!target) return;
    const files = [];
    for (const level of target.levels) {
      const answer = (await call('png', { key: target.key, level: level.index, salvage: true })).result;
      if (answer.bytes) files.push({ name: `${baseName(target.name)}.mip${level.index}.png`, bytes: answer.bytes, store: true });
    }
    const zipped = await call('zip', { entries: files }, files.map((f) => f.bytes.buffer));
    download(`${baseName(target.name)}-levels.zip`, zipped.bytes);
  });

  // ---------------------------------------------------------------------------------
  // Start, and what the page exposes to its tests (read-only views of its state)

  startWorker();
  workerReady.then((info) => {
    $('version').textContent = info.version;
    const side = Math.floor(Math.sqrt(info.maxPixels));
    $('limit-note').textContent = `Images up to ${info.maxPixels.toLocaleString('en')} pixels (${side} x ${side}).`;
  }, (error) => {
    $('limit-note').textContent = `The converter could not start: ${error.message}`;
  });

  function base64(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
  }

  window.vellumPage = {
    ready: () => workerReady.then(() => true),
    // One worker request timed on this thread, for the benchmark (web/tools/bench.mjs).
    timed: async (op, payload) => {
      const start = performance.now();
      const answer = await call(op, payload);
      const result = answer.result || answer.level || answer;
      return { ms: performance.now() - start, status: result.status, size: result.bytes ? result.bytes.length : 0 };
    },
    idle: () => new Promise((resolve) => {
      const check = () => (busy === 0 ? resolve(true) : setTimeout(check, 20));
      check();
    }),
    entries: () => entries.map((e) => ({
      name: e.name, kind: e.kind, state: e.state, message: e.message,
      output: e.output ? e.output.name : null, outputSize: e.output ? e.output.bytes.length : 0,
    })),
    description: (name) => {
      const entry = entries.find((e) => e.name === name);
      return entry ? entry.description : null;
    },
    // The decoded R, G, B, A of a level the page holds, as base64 (not read from a canvas).
    levelRgba: (name, level) => {
      const entry = entries.find((e) => e.name === name);
      const decoded = entry && entry.levels.find((l) => l.index === level);
      return decoded && decoded.bytes ? { status: decoded.status, width: decoded.width, height: decoded.height, rgba: base64(decoded.bytes) } : null;
    },
  };
})();
