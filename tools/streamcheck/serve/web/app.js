'use strict';
const jobsBox = document.getElementById('jobs');
const statusBox = document.getElementById('status');
const summaryBox = document.getElementById('summary');
const memoryBox = document.getElementById('memory');
const olderButton = document.getElementById('older');
const shown = new Map();  // job id -> { key, element }
const expanded = new Set();  // jobs whose labels are all shown
const FIRST_LABELS = 24;  // labels shown of a job until asked for all
const JOBS_STEP = 30;
let jobsShown = JOBS_STEP;
let version = -1;
let lastState = null;

function make(tag, className, text) {
  const element = document.createElement(tag);
  if (className) element.className = className;
  if (text !== undefined) element.textContent = text;
  return element;
}

function bytes(n) {
  if (n < 1024) return n + ' B';
  if (n < 1024 * 1024) return (n / 1024).toFixed(1) + ' KiB';
  return (n / 1024 / 1024).toFixed(1) + ' MiB';
}

function pairs(className, items) {
  const box = make('div', className);
  for (const [name, value] of items) {
    const item = make('span');
    item.append(make('b', '', name + ': '), value);
    box.append(item);
  }
  return box;
}

function describeSetup(setup) {
  return pairs('setup', [
    ['media', setup.media],
    ['label', setup.width + ' × ' + setup.length + ' dots'],
    ['cutting', setup.cutting + (setup.cutting === 'on' ? ' (' + setup.pagesPerCut + ' pages per cut)' : '')],
    ['quality', String(setup.quality)],
    ['direction', setup.direction],
    ['clock', setup.clock]]);
}

// A label's picture with the areas its stream sent drawn over it, at `zoom`
// (0: scaled down to a thumbnail; a tall label gets a taller one).
function picture(label, zoom) {
  const tall = label.height > 3 * label.width;
  const scale = zoom || Math.min(1, 240 / label.width, (tall ? 480 : 240) / label.height);
  const box = make('div', 'picture' + (tall ? ' tall' : ''));
  const image = make('img', 'label');
  image.src = label.url;
  image.alt = 'label ' + label.number;
  image.loading = 'lazy';
  image.dataset.width = label.width;
  image.dataset.height = label.height;
  image.width = Math.max(1, Math.round(label.width * scale));
  image.height = Math.max(1, Math.round(label.height * scale));
  box.append(image);
  for (const area of label.areas || []) {
    const outline = make('div', 'area');
    outline.style.left = (100 * area.x / label.width) + '%';
    outline.style.top = (100 * area.y / label.height) + '%';
    outline.style.width = (100 * area.width / label.width) + '%';
    outline.style.height = (100 * area.height / label.height) + '%';
    outline.title = area.width + ' × ' + area.height + ' at ' + area.x + ',' + area.y + ': ' + bytes(area.bytes) +
        ' of PNG (recall at offset ' + area.recall + ', download at offset ' + area.download + ')';
    outline.append(make('span', '', bytes(area.bytes)));
    box.append(outline);
  }
  return box;
}

function labelFigure(job, label) {
  const figure = make('figure');
  if (label.url) {
    const box = picture(label, 0);
    box.addEventListener('click', () => openViewer(job, label));
    figure.append(box);
  }
  const sent = (label.areas || []).reduce((sum, area) => sum + area.bytes, 0);
  figure.append(make('figcaption', '', '#' + label.number + ' · ' + label.width + ' × ' + label.height +
                     ' · offset ' + label.offset + ' · ' + label.areaCount + ' area' +
                     (label.areaCount === 1 ? '' : 's') + (label.areaCount ? ', ' + bytes(sent) : '') +
                     (label.areaCount > (label.areas || []).length ? ' (first ' + label.areas.length + ' shown)' : '')));
  return figure;
}

function faultList(job) {
  const list = make('ul', 'faults');
  for (const fault of job.faults) {
    const item = make('li');
    item.append(make('code', '', fault.offset === null ? 'connection' : 'offset ' + fault.offset), ': ' + fault.message);
    if (fault.offset !== null && (fault.before || fault.after)) {
      const context = make('pre', 'context');
      context.append(make('span', 'before', fault.before), make('mark', '', '▸'), make('span', 'after', fault.after));
      item.append(context);
    }
    list.append(item);
  }
  return list;
}

// The job on its way to the printer behind: where it stands, and the user's
// word when it is held.
function forwardLine(job) {
  const f = job.forward;
  const line = make('div', 'forward ' + f.state);
  const text = {
    waiting: () => 'waiting to go on' + (f.reason ? ': ' + f.reason : '') + (f.nextTry ? ' · next try ' +
        f.nextTry.replace('T', ' ').replace('Z', ' UTC') : ''),
    sending: () => 'being sent on…',
    forwarded: () => 'forwarded ' + f.when.replace('T', ' ').replace('Z', ' UTC') + ' · ' +
        f.sent.toLocaleString() + ' bytes in ' + f.tookMs.toLocaleString() + ' ms',
    interrupted: () => 'interrupted at byte ' + f.sent.toLocaleString() + ' of ' + f.total.toLocaleString() +
        (f.reason ? ': ' + f.reason : '') + ' · the queue waits for your word',
    skipped: () => 'not sent on: skipped',
  }[f.state];
  line.append(make('span', '', text ? text() : f.state));
  if (f.state === 'interrupted' || f.state === 'waiting') {
    for (const [label, action] of [['Send again', 'send-again'], ['Skip', 'skip']]) {
      const button = make('button', action, label);
      button.type = 'button';
      button.addEventListener('click', () => fetch('/api/jobs/' + job.id + '/' + action,
          { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: '{}' }));
      line.append(button);
    }
  }
  return line;
}

function renderJob(job) {
  const box = make('section', 'job' + (job.faults.length ? ' faulty' : ''));
  box.dataset.job = job.id;
  const title = make('h2', '', 'Job ' + job.id + (job.title ? ' · ' + job.title : ''));
  title.append(make('small', '', job.received.replace('T', ' ').replace('Z', ' UTC') + ' · ' +
                    job.bytes.toLocaleString() + ' bytes · ' + job.labels.length + ' label' +
                    (job.labels.length === 1 ? '' : 's') + ' · ' + job.source + (job.user ? ' · user ' + job.user : '') +
                    (job.freshPrinter ? ' · empty printer' : '')));
  const busy = { arriving: 'receiving…', waiting: 'waiting for the printer…', printing: 'printing…' };
  if (!job.finished) title.append(make('small', 'receiving', busy[job.state] || 'printing…'));
  box.append(title);
  if (job.finished) {
    const counts = pairs('counts', [
      ['took', job.tookMs === null ? '?' : job.tookMs.toLocaleString() + ' ms'],
      ['formats', String(job.formats)], ['downloads', String(job.downloads)], ['recalls', String(job.recalls)]]);
    if (job.stream) {
      const link = make('a', 'stream', 'stream');
      link.href = job.stream;
      link.download = 'job-' + job.id + '.prn';
      counts.append(link);
    }
    box.append(counts);
  }
  if (job.forward.state !== 'none') box.append(forwardLine(job));
  if (job.setup) {
    box.append(describeSetup(job.setup));
    if (!job.setups.length) box.append(make('div', 'setup', '(set-up kept from an earlier job)'));
  } else if (job.finished) {
    box.append(make('div', 'setup', 'no set-up'));
  }
  if (job.faults.length) box.append(faultList(job));
  const labels = make('div', 'labels');
  const all = expanded.has(job.id);
  for (const label of all ? job.labels : job.labels.slice(0, FIRST_LABELS)) labels.append(labelFigure(job, label));
  box.append(labels);
  if (!all && job.labels.length > FIRST_LABELS) {
    const more = make('button', 'all-labels', 'Show all ' + job.labels.length + ' labels');
    more.type = 'button';
    more.addEventListener('click', () => {
      expanded.add(job.id);
      shown.delete(job.id);
      render(lastState);
    });
    box.append(more);
  }
  return box;
}

function renderMemory(memory) {
  memoryBox.replaceChildren(make('h2', '', 'Printer memory'));
  const used = make('div', 'used');
  const meter = make('meter');
  meter.max = memory.imageByteLimit;
  meter.value = memory.imageBytes;
  used.append('Images: ', meter, ' ' + bytes(memory.imageBytes) + ' of ' + bytes(memory.imageByteLimit) + ' used · ' +
              memory.imageCount + ' image' + (memory.imageCount === 1 ? '' : 's') + ' held by name');
  memoryBox.append(used);
  const kept = make('div', 'kept');
  if (memory.kept) {
    const label = { number: 'kept', url: memory.kept.url, width: memory.kept.width, height: memory.kept.height };
    const box = picture(label, 0);
    box.classList.add('kept-picture');
    box.addEventListener('click', () => openViewer(null, label));
    kept.append(make('div', '', 'Kept label (' + memory.kept.width + ' × ' + memory.kept.height + '):'),
                make('div', 'labels'));
    kept.lastChild.append(box);
  } else {
    kept.append('No label kept.');
  }
  memoryBox.append(kept);
  const images = make('div', 'images');
  if (memory.images.length) {
    const table = make('table');
    const head = make('tr');
    for (const name of ['name', 'size', 'PNG', 'memory', 'sent at']) head.append(make('th', '', name));
    table.append(head);
    for (const image of memory.images) {
      const row = make('tr');
      row.append(make('td', 'name', image.name), make('td', 'n', image.width + ' × ' + image.height),
                 make('td', 'n', bytes(image.pngBytes)), make('td', 'n', bytes(image.bytes)),
                 make('td', 'n', 'offset ' + image.download));
      table.append(row);
    }
    images.append(table);
    if (memory.imageCount > memory.images.length) images.append(make('div', '', '… and ' +
        (memory.imageCount - memory.images.length) + ' more'));
  } else {
    images.append('No images held.');
  }
  memoryBox.append(images);
  if (memory.setup) memoryBox.append(describeSetup(memory.setup));
  const clears = [];
  if (memory.setup) clears.push('the set-up');
  if (memory.imageCount) clears.push(memory.imageCount + ' image' + (memory.imageCount === 1 ? '' : 's') + ' (' +
                                     bytes(memory.imageBytes) + ')');
  if (memory.kept) clears.push('the kept label');
  memoryBox.append(make('p', 'clears', clears.length ? 'A power cycle clears ' + clears.join(', ') + '.'
                                                     : 'The printer holds nothing: a power cycle clears nothing.'));
}

let viewed = null;  // { label, zoom } or, two jobs side by side, { label: B's, pair, zoom }
function showZoom(zoom) {
  const body = document.getElementById('viewer-body');
  const across = viewed.pair ? 2 : 1;
  const fit = Math.min((body.clientWidth - 32 * across) / (across * viewed.label.width),
                       (body.clientHeight - 56) / viewed.label.height, 1);
  viewed.zoom = zoom === 'fit' ? fit : zoom === 'one' ? 1 : zoom;
  body.replaceChildren(viewed.pair ? window.jobCompare.pairView(viewed.pair, viewed.zoom)
                                   : picture(viewed.label, viewed.zoom));
  document.getElementById('viewer-zoom').textContent = Math.round(viewed.zoom * 100) + '%';
  if (window.viewerTools) window.viewerTools.shown(viewed);  // rulers and compare: tools.js
}

function openViewer(job, label) {
  viewed = { label, zoom: 1 };
  document.getElementById('viewer').classList.remove('pair-mode');
  document.getElementById('viewer-title').textContent = (job ? 'Job ' + job.id + ', label #' + label.number
                                                             : 'Kept label') + ' · ' + label.width + ' × ' + label.height;
  document.getElementById('viewer-open').href = label.url;
  document.getElementById('viewer').hidden = false;
  showZoom('fit');
}

// Two labels side by side (compare.js): A's and B's of one pair.
function openPair(pair) {
  const label = pair.b || pair.a;
  if (!label || !label.url) return;
  viewed = { label, pair, zoom: 1 };
  document.getElementById('viewer').classList.add('pair-mode');  // compared with each other, not with a picture
  document.getElementById('viewer-title').textContent = pair.title;
  document.getElementById('viewer-open').href = label.url;
  document.getElementById('viewer').hidden = false;
  showZoom('fit');
}

// Closing the viewer forgets the label it showed, and what its tools held.
function closeViewer() {
  document.getElementById('viewer').hidden = true;
  viewed = null;
  document.getElementById('viewer-body').replaceChildren();
  if (window.viewerTools) window.viewerTools.shown(null);
}

document.getElementById('viewer').addEventListener('click', (event) => {
  const action = event.target.dataset && event.target.dataset.zoom;
  if (!action) return;
  if (action === 'close') return closeViewer();
  if (action === 'in') showZoom(Math.min(8, viewed.zoom * 2));
  else if (action === 'out') showZoom(Math.max(1 / 64, viewed.zoom / 2));
  else showZoom(action);
});
document.addEventListener('keydown', (event) => {
  if (event.key === 'Escape' && viewed) closeViewer();
});
document.getElementById('areas').addEventListener('change', (event) => {
  document.body.classList.toggle('no-areas', !event.target.checked);
});

function render(state) {
  lastState = state;
  summaryBox.textContent = state.jobs.length + ' job' + (state.jobs.length === 1 ? '' : 's') + ' stored (' +
      bytes(state.storedBytes) + ')' +
      (state.powerCycles ? ' · power cycled ' + state.powerCycles + '× (last ' + state.lastPowerCycle + ')' : '') +
      (state.earlierJobs ? ' · ' + state.earlierJobs + ' from before the last start: the printer started empty, ' +
          'as after a power cycle' : '') +
      (state.forwardTo ? ' · passing jobs on to ' + state.forwardTo : '');
  const keep = new Set();
  let previous = null;
  for (const job of state.jobs.slice(0, jobsShown)) {
    keep.add(job.id);
    const key = JSON.stringify(job);
    let entry = shown.get(job.id);
    if (!entry || entry.key !== key) {
      const element = renderJob(job);
      const old = entry ? entry.element : jobsBox.querySelector('section.job[data-job="' + job.id + '"]');
      if (old) old.replaceWith(element);
      entry = { key, element };
      shown.set(job.id, entry);
    }
    // Newest first.
    const wanted = previous ? previous.nextSibling : jobsBox.firstChild;
    if (wanted !== entry.element) jobsBox.insertBefore(entry.element, wanted);
    previous = entry.element;
  }
  for (const [id, entry] of shown) {
    if (!keep.has(id)) { entry.element.remove(); shown.delete(id); }
  }
  olderButton.hidden = state.jobs.length <= jobsShown;
  if (window.jobCompare) window.jobCompare.jobsChanged(state);
  const empty = jobsBox.querySelector('.empty');
  if (empty && state.jobs.length) empty.remove();
}

olderButton.addEventListener('click', () => {
  jobsShown += JOBS_STEP;
  render(lastState);
});

async function refreshMemory() {
  const response = await fetch('/api/memory');
  if (response.ok) renderMemory(await response.json());
}

async function poll() {
  for (;;) {
    try {
      const response = await fetch(version < 0 ? '/api/jobs' : '/api/jobs?after=' + version);
      if (!response.ok) throw new Error(response.status);
      const state = await response.json();
      statusBox.textContent = 'connected';
      if (state.version !== version) {
        version = state.version;
        render(state);
        await refreshMemory();
      } else {
        // Nothing new: the server did not hold the request (too many pages
        // waiting) or held it to its end. Ask again a little later.
        await new Promise((resolve) => setTimeout(resolve, 1000));
      }
    } catch (error) {
      statusBox.textContent = 'not connected, retrying…';
      await new Promise((resolve) => setTimeout(resolve, 1000));
    }
  }
}

document.getElementById('power').addEventListener('click', async () => {
  if (!confirm('Switch the virtual printer off and on? It forgets the kept label, the images and the set-up.')) return;
  // JSON, as no page of another site may send it unasked.
  await fetch('/api/power-cycle', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: '{}' });
});

poll();
