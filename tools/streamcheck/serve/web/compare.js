'use strict';
// Two jobs side by side: the user picks two stored jobs, or a stored job and
// a .prn file (sent to the printer as a job, then compared); /api/diff
// compares them as "streamcheck diff" does. The result lists the pairs of
// labels with the areas that differ outlined; a pair opens in the viewer with
// the differing pixels marked and the rulers. app.js gives make(), picture(),
// and openPair().
window.jobCompare = (() => {
  const panel = document.getElementById('compare-jobs');
  const pickA = document.getElementById('compare-a');
  const pickB = document.getElementById('compare-b');
  const fileB = document.getElementById('compare-b-file');
  const tolerance = document.getElementById('compare-jobs-tolerance');
  const runButton = document.getElementById('compare-run');
  const resultBox = document.getElementById('compare-jobs-result');
  let result = null;  // { diff, a: job, b: job } of the last compare shown
  let run = 0;

  function jobName(job) {
    return 'Job ' + job.id + (job.title ? ' · ' + job.title : '') + ' · ' + job.labels.length + ' label' +
        (job.labels.length === 1 ? '' : 's');
  }

  // The pick lists follow the stored jobs; what was picked stays picked.
  function jobsChanged(state) {
    const finished = state.jobs.filter((job) => job.finished);
    for (const [select, fallback] of [[pickA, 1], [pickB, 0]]) {
      const was = select.value;
      select.replaceChildren(...finished.map((job) => {
        const option = make('option', '', jobName(job));
        option.value = job.id;
        return option;
      }));
      if (finished.some((job) => String(job.id) === was)) select.value = was;
      else if (finished.length) select.value = finished[Math.min(fallback, finished.length - 1)].id;
    }
    runButton.disabled = !finished.length;
  }

  // The printer reads a job up to its --max-job-mb and marks a larger one.
  async function sendFile(file) {
    const response = await fetch('/api/jobs', {
      method: 'POST', headers: { 'Content-Type': 'application/octet-stream' }, body: file });
    const answer = await response.json();
    if (!response.ok) throw new Error(answer.error || 'HTTP ' + response.status);
    return answer.id;
  }

  async function jobRecord(id) {
    const response = await fetch('/api/jobs/' + id);
    if (!response.ok) throw new Error('job ' + id + ' is no longer stored');
    return response.json();
  }

  async function compare() {
    const mine = ++run;
    resultBox.replaceChildren(make('p', 'compare-busy', 'comparing…'));
    try {
      const a = pickA.value;
      const b = fileB.files.length ? await sendFile(fileB.files[0]) : pickB.value;
      fileB.value = '';
      const limit = Math.max(0, Math.min(255, Number(tolerance.value) || 0));
      const response = await fetch('/api/diff?a=' + a + '&b=' + b + '&tolerance=' + limit);
      const diff = await response.json();
      if (!response.ok) throw new Error(diff.error || 'HTTP ' + response.status);
      const [jobA, jobB] = await Promise.all([jobRecord(a), jobRecord(b)]);
      if (mine !== run) return;
      result = { diff, a: jobA, b: jobB };
      show();
    } catch (error) {
      if (mine !== run) return;
      resultBox.replaceChildren(make('p', 'compare-fault', error.message));
    }
  }

  function labelOf(job, number) {
    return job.labels.find((label) => label.number === number) || null;
  }

  // Outlines the areas that differ on a label's picture box.
  function outline(box, label, boxes) {
    for (const area of boxes) {
      const mark = make('div', 'difference-box');
      mark.style.left = (100 * area.x / label.width) + '%';
      mark.style.top = (100 * area.y / label.height) + '%';
      mark.style.width = (100 * area.width / label.width) + '%';
      mark.style.height = (100 * area.height / label.height) + '%';
      mark.dataset.box = [area.x, area.y, area.width, area.height].join(',');
      mark.title = area.width + ' × ' + area.height + ' dots at ' + area.x + ',' + area.y + ' (' + area.mm.width +
          ' × ' + area.mm.height + ' mm at ' + area.mm.x + ',' + area.mm.y + ' mm)';
      box.append(mark);
    }
  }

  function side(job, entry, zoom) {
    const label = labelOf(job, entry.number);
    if (!label || !label.url) return make('div', 'compare-missing', label ? 'no picture stored' : '—');
    const box = picture(label, zoom);
    outline(box, label, entry.boxes);
    return box;
  }

  function pairLine(entry) {
    let text = '#' + entry.number + ': ' + entry.verdict;
    if (entry.pixels) text += ' · ' + entry.pixels.toLocaleString() + ' pixels in ' + (entry.boxes.length + entry.moreBoxes) +
        ' area' + (entry.boxes.length + entry.moreBoxes === 1 ? '' : 's');
    if (entry.a && entry.b && (entry.a.width !== entry.b.width || entry.a.height !== entry.b.height)) {
      text += ' · ' + entry.a.width + ' × ' + entry.a.height + ' in A, ' + entry.b.width + ' × ' + entry.b.height + ' in B';
    }
    return text;
  }

  function show() {
    const { diff, a, b } = result;
    const head = make('div', 'compare-head');
    head.append(make('p', 'compare-summary ' + diff.verdict, diff.summary));
    head.append(make('p', '', 'A: ' + jobName(a) + ' · B: ' + jobName(b)));
    const notes = make('ul', 'compare-notes');
    for (const s of diff.setup) notes.append(make('li', '', 'set-up ' + s.setup + ': ' + s.setting + ': ' + s.a + ' in A, ' + s.b + ' in B'));
    for (const [name, sideOf] of [['A', diff.a], ['B', diff.b]]) {
      if (sideOf.damage) notes.append(make('li', 'fault', name + ' is damaged: offset ' + sideOf.damage.offset + ': ' +
          sideOf.damage.message + ' (compared as far as it prints)'));
    }
    head.append(notes);
    const pairs = make('div', 'compare-pairs');
    for (const entry of diff.labels) {
      const row = make('figure', 'compare-pair ' + entry.verdict.replace(/ /g, '-'));
      row.dataset.number = entry.number;
      const both = make('div', 'compare-sides');
      both.append(side(a, entry, 0), side(b, entry, 0));
      row.append(both, make('figcaption', '', pairLine(entry)));
      row.addEventListener('click', () => openPair(pairOf(entry)));
      pairs.append(row);
    }
    resultBox.replaceChildren(head, pairs);
  }

  function pairOf(entry) {
    const { a, b, diff } = result;
    return { entry, a: labelOf(a, entry.number), b: labelOf(b, entry.number), jobA: a, jobB: b,
             tolerance: diff.tolerance, title: 'Job ' + a.id + ' ↔ job ' + b.id + ', label #' + entry.number + ' · ' +
             pairLine(entry).replace(/^#\d+: /, '') };
  }

  async function pixelsOf(url) {
    const response = await fetch(url);
    if (!response.ok) throw new Error('HTTP ' + response.status);
    const bitmap = await createImageBitmap(await response.blob(), { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
    const canvas = document.createElement('canvas');
    canvas.width = bitmap.width;
    canvas.height = bitmap.height;
    const context = canvas.getContext('2d', { willReadFrequently: true });
    context.drawImage(bitmap, 0, 0);
    bitmap.close();
    return { width: canvas.width, height: canvas.height, data: context.getImageData(0, 0, canvas.width, canvas.height).data };
  }

  // Marks on B's picture the pixels that differ from A's, as the compare
  // counts them: over the larger, white beyond the smaller.
  async function markPixels(box, pair) {
    const [a, b] = await Promise.all([pixelsOf(pair.a.url), pixelsOf(pair.b.url)]);
    const width = Math.max(a.width, b.width), height = Math.max(a.height, b.height);
    const canvas = document.createElement('canvas');
    canvas.className = 'differences';
    canvas.width = width;
    canvas.height = height;
    const context = canvas.getContext('2d');
    const marks = context.createImageData(width, height);
    const at = (p, x, y, c) => (x < p.width && y < p.height ? p.data[(y * p.width + x) * 4 + c] : 255);
    let count = 0;
    for (let y = 0; y < height; ++y) {
      for (let x = 0; x < width; ++x) {
        if (Math.abs(at(a, x, y, 0) - at(b, x, y, 0)) > pair.tolerance || Math.abs(at(a, x, y, 1) - at(b, x, y, 1)) > pair.tolerance ||
            Math.abs(at(a, x, y, 2) - at(b, x, y, 2)) > pair.tolerance) {
          const k = (y * width + x) * 4;
          marks.data.set([220, 38, 38, 255], k);
          ++count;
        }
      }
    }
    context.putImageData(marks, 0, 0);
    const image = box.querySelector('img.label');
    const scale = image.width / pair.b.width;
    canvas.style.width = width * scale + 'px';
    canvas.style.height = height * scale + 'px';
    box.insertBefore(canvas, image.nextSibling);
    box.dataset.marked = count;
  }

  // The viewer's body for a pair at `zoom`: A and B side by side.
  function pairView(pair, zoom) {
    const row = make('div', 'pair');
    for (const [name, label] of [['A', pair.a], ['B', pair.b]]) {
      const column = make('div', 'pair-side');
      column.append(make('div', 'pair-name', name + (label ? ' · ' + label.width + ' × ' + label.height : '')));
      if (label && label.url) {
        const box = picture(label, zoom);
        box.classList.add('paired', 'side-' + name.toLowerCase());
        outline(box, label, pair.entry.boxes);
        column.append(box);
        if (name === 'B' && pair.a && pair.a.url && pair.entry.verdict === 'differ') {
          markPixels(box, pair).catch((error) => { box.dataset.marked = 'failed: ' + error.message; });
        }
      } else {
        column.append(make('div', 'compare-missing', label ? 'no picture stored' : 'no such label'));
      }
      row.append(column);
    }
    return row;
  }

  runButton.addEventListener('click', compare);
  document.getElementById('compare-open').addEventListener('click', () => {
    panel.hidden = !panel.hidden;
  });
  return { jobsChanged, pairView };
})();
