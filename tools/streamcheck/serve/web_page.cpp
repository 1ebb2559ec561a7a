// The virtual printer's page: plain HTML, CSS and a little script that asks
// the server for news (a long poll) and redraws the jobs that changed.
#include "web_server.h"

namespace streamcheck::serve {

const char* const kPageHtml = R"HTML(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Virtual label printer</title>
<link rel="stylesheet" href="/style.css">
</head>
<body>
<header>
  <h1>Virtual label printer</h1>
  <span id="status" class="status">connecting…</span>
  <button id="power" type="button" title="Empty the printer's memory: kept label, downloaded images, set-up">Power cycle</button>
</header>
<p id="summary" class="summary"></p>
<main id="jobs"><p class="empty">No jobs yet. Send a printer stream to the raw port or POST it to /api/jobs.</p></main>
<script src="/app.js"></script>
</body>
</html>
)HTML";

const char* const kPageCss = R"CSS(
body { font: 14px/1.4 system-ui, sans-serif; margin: 0; background: #f3f4f6; color: #1f2937; }
header { display: flex; align-items: center; gap: 1em; padding: .6em 1.2em; background: #1f2937; color: #fff; }
header h1 { font-size: 1.2em; margin: 0; flex: 1; }
.status { font-size: .9em; opacity: .8; }
button { font: inherit; padding: .3em .9em; border-radius: 4px; border: 1px solid #9ca3af; background: #fff; cursor: pointer; }
.summary { margin: .6em 1.2em; color: #4b5563; }
main { padding: 0 1.2em 2em; }
.empty { color: #6b7280; }
.job { background: #fff; border: 1px solid #d1d5db; border-radius: 6px; margin: 0 0 1em; padding: .8em 1em; }
.job.faulty { border-color: #dc2626; }
.job h2 { font-size: 1.05em; margin: 0 0 .3em; }
.job h2 small { font-weight: normal; color: #6b7280; margin-left: .6em; }
.setup { display: flex; flex-wrap: wrap; gap: .3em 1.2em; margin: .3em 0; color: #374151; }
.setup span b { font-weight: 600; }
.labels { display: flex; flex-wrap: wrap; gap: .8em; margin-top: .6em; }
.labels figure { margin: 0; text-align: center; }
.labels img { display: block; max-width: 240px; max-height: 240px; border: 1px solid #9ca3af; background: #fff;
              box-shadow: 0 1px 3px rgba(0,0,0,.15); }
.labels figcaption { font-size: .8em; color: #6b7280; }
.faults { margin: .5em 0 0; padding-left: 1.2em; color: #b91c1c; }
.faults code { color: #7f1d1d; }
.receiving { color: #2563eb; }
)CSS";

const char* const kPageScript = R"JS(
'use strict';
const jobsBox = document.getElementById('jobs');
const statusBox = document.getElementById('status');
const summaryBox = document.getElementById('summary');
const shown = new Map();  // job id -> { key, element }
let version = -1;

function make(tag, className, text) {
  const element = document.createElement(tag);
  if (className) element.className = className;
  if (text !== undefined) element.textContent = text;
  return element;
}

function describeSetup(setup) {
  const box = make('div', 'setup');
  const add = (name, value) => {
    const item = make('span');
    item.append(make('b', '', name + ': '), value);
    box.append(item);
  };
  add('media', setup.media);
  add('label', setup.width + ' × ' + setup.length + ' dots');
  add('cutting', setup.cutting + (setup.cutting === 'on' ? ' (' + setup.pagesPerCut + ' pages per cut)' : ''));
  add('quality', String(setup.quality));
  add('direction', setup.direction);
  add('clock', setup.clock);
  return box;
}

function renderJob(job) {
  const box = make('section', 'job' + (job.faults.length ? ' faulty' : ''));
  box.dataset.job = job.id;
  const title = make('h2', '', 'Job ' + job.id);
  title.append(make('small', '', job.received.replace('T', ' ').replace('Z', ' UTC') + ' · ' +
                    job.bytes.toLocaleString() + ' bytes · ' + job.labels.length + ' label' +
                    (job.labels.length === 1 ? '' : 's') + ' · ' + job.source +
                    (job.freshPrinter ? ' · empty printer' : '')));
  if (!job.finished) title.append(make('small', 'receiving', 'receiving…'));
  box.append(title);
  if (job.setup) {
    box.append(describeSetup(job.setup));
    if (!job.setups.length) box.append(make('div', 'setup', '(set-up kept from an earlier job)'));
  } else if (job.finished) {
    box.append(make('div', 'setup', 'no set-up'));
  }
  if (job.faults.length) {
    const list = make('ul', 'faults');
    for (const fault of job.faults) {
      const item = make('li');
      item.append(make('code', '', fault.offset === null ? 'connection' : 'offset ' + fault.offset), ': ' + fault.message);
      list.append(item);
    }
    box.append(list);
  }
  const labels = make('div', 'labels');
  for (const label of job.labels) {
    const figure = make('figure');
    if (label.url) {
      const link = make('a');
      link.href = label.url;
      link.target = '_blank';
      const picture = make('img', 'label');
      picture.src = label.url;
      picture.alt = 'label ' + label.number;
      picture.loading = 'lazy';
      link.append(picture);
      figure.append(link);
    }
    figure.append(make('figcaption', '', '#' + label.number + ' · ' + label.width + ' × ' + label.height +
                       ' · offset ' + label.offset));
    labels.append(figure);
  }
  box.append(labels);
  return box;
}

function render(state) {
  summaryBox.textContent = state.jobs.length + ' job' + (state.jobs.length === 1 ? '' : 's') + ' stored' +
      (state.powerCycles ? ' · power cycled ' + state.powerCycles + '× (last ' + state.lastPowerCycle + ')' : '');
  const keep = new Set();
  let previous = null;
  for (const job of state.jobs) {
    keep.add(job.id);
    const key = JSON.stringify(job);
    let entry = shown.get(job.id);
    if (!entry || entry.key !== key) {
      const element = renderJob(job);
      if (entry) entry.element.replaceWith(element);
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
  const empty = jobsBox.querySelector('.empty');
  if (empty && state.jobs.length) empty.remove();
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
  await fetch('/api/power-cycle', { method: 'POST' });
});

poll();
)JS";

}  // namespace streamcheck::serve
