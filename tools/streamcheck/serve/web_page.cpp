// The virtual printer's page: plain HTML, CSS and a little script that asks
// the server for news (a long poll) and redraws the jobs that changed.
#include "web_page.h"

namespace streamcheck::serve {

const char* const kPageHtml = R"HTML(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Virtual label printer</title>
<link rel="stylesheet" href="/style.css">
<link rel="stylesheet" href="/tools.css">
</head>
<body>
<header>
  <h1>Virtual label printer</h1>
  <span id="status" class="status">connecting…</span>
  <label class="toggle" title="Outline the areas each label's stream sent, with their bytes"><input id="areas" type="checkbox" checked> sent areas</label>
  <button id="power" type="button" title="Empty the printer's memory: kept label, downloaded images, set-up">Power cycle</button>
</header>
<section id="memory" class="memory" aria-label="Printer memory"></section>
<p id="summary" class="summary"></p>
<main id="jobs"><p class="empty">No jobs yet. Send a printer stream to the raw port or POST it to /api/jobs.</p></main>
<p class="more"><button id="older" type="button" hidden>Show older jobs</button></p>
<div id="viewer" class="viewer" hidden>
  <div class="bar"><span id="viewer-title"></span>
    <button type="button" data-zoom="out">−</button><span id="viewer-zoom"></span><button type="button" data-zoom="in">+</button>
    <button type="button" data-zoom="fit">fit</button><button type="button" data-zoom="one">1:1</button>
    <a id="viewer-open" target="_blank">picture</a><button type="button" data-zoom="close">close</button></div>
  <div class="bar tools-bar"><span id="ruler-pointer" class="pointer-readout">pointer: off the label</span>
    <label title="Compare the label with a picture: the design exported from your design tool, or the same label from another job. The picture stays in this page.">compare with <input id="compare-file" type="file" accept="image/*"></label>
    <label title="0: the label only, 100: the picture only">blend <input id="compare-blend" type="range" min="0" max="100" value="50"></label>
    <label title="Mark the pixels that differ in red, and outline them"><input id="compare-marks" type="checkbox" checked> differences</label>
    <label title="A pixel differs when one of its colour channels differs by more than this">tolerance <input id="compare-tolerance" type="number" min="0" max="255" value="0"></label>
    <button id="compare-clear" type="button" hidden>clear</button>
    <span id="compare-result" class="compare-result"></span></div>
  <div class="ruled">
    <div class="ruler-corner" title="Top and left rulers: dots above and on the left, millimetres below and on the right (360 dots per inch)"><span>dots</span><span>mm</span></div>
    <div id="ruler-top" class="ruler ruler-top"></div>
    <div id="ruler-left" class="ruler ruler-left"></div>
    <div id="viewer-body" class="viewer-body"></div>
  </div>
</div>
<script src="/app.js"></script>
<script src="/tools.js"></script>
</body>
</html>
)HTML";

const char* const kPageCss = R"CSS(
body { font: 14px/1.4 system-ui, sans-serif; margin: 0; background: #f3f4f6; color: #1f2937; }
header { display: flex; align-items: center; gap: 1em; padding: .6em 1.2em; background: #1f2937; color: #fff; }
header h1 { font-size: 1.2em; margin: 0; flex: 1; }
.status { font-size: .9em; opacity: .8; }
.toggle { font-size: .9em; }
button { font: inherit; padding: .3em .9em; border-radius: 4px; border: 1px solid #9ca3af; background: #fff; cursor: pointer; }
.summary { margin: .6em 1.2em; color: #4b5563; }
main { padding: 0 1.2em 1em; }
.more { padding: 0 1.2em 2em; margin: 0; }
.empty { color: #6b7280; }
.memory { background: #fff; border: 1px solid #d1d5db; border-radius: 6px; margin: .8em 1.2em 0; padding: .6em 1em;
          display: flex; flex-wrap: wrap; gap: .4em 2em; }
.memory h2 { font-size: 1.05em; margin: 0; width: 100%; }
.memory .used { width: 100%; }
.memory meter { width: 16em; vertical-align: middle; }
.memory table { border-collapse: collapse; font-size: .9em; }
.memory td, .memory th { padding: .1em .8em .1em 0; text-align: left; }
.memory td.n { text-align: right; font-variant-numeric: tabular-nums; }
.memory .clears { width: 100%; color: #4b5563; margin: 0; }
.job { background: #fff; border: 1px solid #d1d5db; border-radius: 6px; margin: 0 0 1em; padding: .8em 1em; }
.job.faulty { border-color: #dc2626; }
.job h2 { font-size: 1.05em; margin: 0 0 .3em; }
.job h2 small { font-weight: normal; color: #6b7280; margin-left: .6em; }
.setup, .counts { display: flex; flex-wrap: wrap; gap: .3em 1.2em; margin: .3em 0; color: #374151; }
.setup span b, .counts span b { font-weight: 600; }
.labels { display: flex; flex-wrap: wrap; gap: .8em; margin-top: .6em; align-items: flex-start; }
.labels figure { margin: 0; text-align: center; }
.picture { position: relative; display: inline-block; line-height: 0; cursor: zoom-in; border: 1px solid #9ca3af;
           background: #fff; box-shadow: 0 1px 3px rgba(0,0,0,.15); }
.picture img { display: block; }
.area { position: absolute; box-sizing: border-box; border: 1px solid rgba(220, 38, 38, .9);
        background: rgba(220, 38, 38, .08); overflow: hidden; }
.area span { position: absolute; left: 1px; top: 1px; font: 9px/1 system-ui, sans-serif; color: #7f1d1d;
             background: rgba(255,255,255,.8); white-space: nowrap; }
body.no-areas .area { display: none; }
.labels figcaption { font-size: .8em; color: #6b7280; max-width: 240px; }
.faults { margin: .5em 0 0; padding-left: 1.2em; color: #b91c1c; }
.faults code { color: #7f1d1d; }
.context { margin: .2em 0 .4em; padding: .3em .5em; background: #fef2f2; color: #1f2937; white-space: pre-wrap;
           word-break: break-all; font-size: .85em; }
.context mark { background: #dc2626; color: #fff; padding: 0 .15em; }
.receiving { color: #2563eb; }
.forward { margin: .3em 0; color: #374151; }
.forward.waiting, .forward.sending { color: #2563eb; }
.forward.interrupted { color: #b91c1c; font-weight: bold; }
.forward button { margin-left: .6em; }
.viewer { position: fixed; inset: 0; background: rgba(17,24,39,.85); display: flex; flex-direction: column; z-index: 10; }
.viewer[hidden] { display: none; }
.viewer .bar { display: flex; gap: .6em; align-items: center; padding: .4em 1em; background: #111827; color: #fff; }
.viewer .bar span:first-child { flex: 1; }
.viewer .bar a { color: #93c5fd; }
.viewer-body { flex: 1; overflow: auto; padding: 1em; text-align: center; }
.viewer-body .picture { cursor: default; }
.viewer-body img { display: block; }
)CSS";

const char* const kPageScript = R"JS(
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

let viewed = null;
function showZoom(zoom) {
  const body = document.getElementById('viewer-body');
  const fit = Math.min((body.clientWidth - 32) / viewed.label.width, (body.clientHeight - 32) / viewed.label.height, 1);
  viewed.zoom = zoom === 'fit' ? fit : zoom === 'one' ? 1 : zoom;
  body.replaceChildren(picture(viewed.label, viewed.zoom));
  document.getElementById('viewer-zoom').textContent = Math.round(viewed.zoom * 100) + '%';
  if (window.viewerTools) window.viewerTools.shown(viewed);  // rulers and compare: tools.js
}

function openViewer(job, label) {
  viewed = { label, zoom: 1 };
  document.getElementById('viewer-title').textContent = (job ? 'Job ' + job.id + ', label #' + label.number
                                                             : 'Kept label') + ' · ' + label.width + ' × ' + label.height;
  document.getElementById('viewer-open').href = label.url;
  document.getElementById('viewer').hidden = false;
  showZoom('fit');
}

document.getElementById('viewer').addEventListener('click', (event) => {
  const action = event.target.dataset && event.target.dataset.zoom;
  if (!action) return;
  if (action === 'close') { document.getElementById('viewer').hidden = true; viewed = null; return; }
  if (action === 'in') showZoom(Math.min(8, viewed.zoom * 2));
  else if (action === 'out') showZoom(Math.max(1 / 64, viewed.zoom / 2));
  else showZoom(action);
});
document.addEventListener('keydown', (event) => {
  if (event.key === 'Escape') document.getElementById('viewer').hidden = true;
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
)JS";

}  // namespace streamcheck::serve
