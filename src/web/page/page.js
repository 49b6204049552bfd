'use strict';
// The station's page: the status polled every few seconds, the chart filled
// from the journal for the chosen span and then followed reading by reading.
(function () {
  // Seconds a step of the history averages for each span (0: every reading),
  // so a span is at most about 1,500 points.
  const STEPS = { 3600: 0, 86400: 60, 604800: 600, 2592000: 1800 };
  const $ = (id) => document.getElementById(id);
  const chartEl = $('chart');

  let span = 3600;
  let status = null;
  let chart = null;
  // uPlot's columns: time (s), value, band low, band high, the value again
  // where the alarm was on (drawn red, as the window draws that stretch);
  // per point also how many readings it stands for and their min and max.
  const empty = () => [[], [], [], [], []];
  let cols = empty();
  let weight = [], mins = [], maxs = [];
  let lastTaken = null;
  let lastMs = null;      // time of the newest reading held
  let loadToken = 0;      // a newer span load makes older ones void
  let firstRender = true;

  const pad = (n, w) => String(n).padStart(w, '0');
  const fixed = (v, d) => (v == null || !isFinite(v) ? '\u2013' : v.toFixed(d));

  // The elapsed time as the window's statistics show it: 000d:00h:00m:00s.
  function elapsedText(seconds) {
    const s = Math.max(0, Math.round(seconds));
    return pad(Math.floor(s / 86400), 3) + 'd:' + pad(Math.floor(s / 3600) % 24, 2) + 'h:' +
      pad(Math.floor(s / 60) % 60, 2) + 'm:' + pad(s % 60, 2) + 's';
  }

  async function get(url) {
    const r = await fetch(url, { cache: 'no-store' });
    if (!r.ok) throw new Error(url + ': ' + r.status);
    const link = r.headers.get('Link');
    const m = link && link.match(/<([^>]+)>;\s*rel="next"/);
    return { body: await r.json(), next: m ? m[1] : null };
  }

  // All pages of a range, following the server's links.
  async function readings(fromMs, toMs, step) {
    let url = '/api/readings?from=' + encodeURIComponent(new Date(fromMs).toISOString()) +
      '&to=' + encodeURIComponent(new Date(toMs).toISOString()) + (step ? '&step=' + step : '');
    const rows = [];
    for (let pages = 0; url && pages < 100; pages++) {
      const page = await get(url);
      for (const r of page.body) rows.push(r);
      url = page.next;
    }
    return rows;
  }

  function push(r) {
    const ms = Date.parse(r.time);
    if (r.value == null || (lastMs != null && ms <= lastMs)) return;
    cols[0].push(ms / 1000);
    cols[1].push(r.value);
    cols[2].push(r.band_low == null ? null : r.band_low);
    cols[3].push(r.band_high == null ? null : r.band_high);
    cols[4].push(r.alarm ? r.value : null);
    weight.push(r.n || 1);
    mins.push(r.min == null ? r.value : r.min);
    maxs.push(r.max == null ? r.value : r.max);
    lastMs = ms;
  }

  // Points older than the span before the newest go.
  function trim() {
    const start = cols[0].length ? cols[0][cols[0].length - 1] - span : 0;
    let cut = 0;
    while (cut < cols[0].length && cols[0][cut] < start) cut++;
    if (!cut) return;
    cols = cols.map((c) => c.slice(cut));
    weight = weight.slice(cut); mins = mins.slice(cut); maxs = maxs.slice(cut);
  }

  function makeChart() {
    const unit = status ? status.unit : '';
    return new uPlot({
      width: Math.max(240, chartEl.clientWidth),
      height: chartEl.clientWidth < 500 ? 240 : 320,
      legend: { show: false },
      cursor: { points: { show: false } },
      scales: { x: { time: true } },
      series: [
        {},
        { label: unit, stroke: '#1f5fbf', width: 1.5, points: { show: false } },
        { label: 'band low', stroke: 'transparent', points: { show: false } },
        { label: 'band high', stroke: 'transparent', points: { show: false } },
        { label: 'alarm', stroke: '#c62828', width: 2, points: { show: false } },
      ],
      bands: [{ series: [3, 2], fill: 'rgba(31, 95, 191, 0.14)' }],
      axes: [{}, { size: 60 }],
    }, cols, chartEl);
  }

  function draw() {
    if (!chart) chart = makeChart();
    else chart.setData(cols);
    chartEl.dataset.points = String(cols[0].length);
    const step = STEPS[span];
    $('caption').textContent = (step ? 'Means of ' + (step >= 60 ? step / 60 + ' minutes' : step + ' s')
      : 'Every reading') + (status ? ', ' + status.unit : '') + '; the light band is the 95 % range.';
    if (firstRender && cols[0].length) {
      firstRender = false;
      document.body.dataset.firstRenderMs = String(Math.round(performance.now()));
    }
    stats();
  }

  // As the window's statistics: latest, average, min, max and the elapsed time.
  function stats() {
    const n = cols[0].length;
    if (!n || !status) { $('stats').textContent = 'No readings in this span.'; return; }
    let sum = 0, count = 0, min = Infinity, max = -Infinity;
    for (let i = 0; i < n; i++) {
      sum += cols[1][i] * weight[i]; count += weight[i];
      min = Math.min(min, mins[i]); max = Math.max(max, maxs[i]);
    }
    const d = status.decimals, u = ' ' + status.unit;
    const latest = status.latest && status.latest.value != null ? status.latest.value : cols[1][n - 1];
    $('stats').textContent = [
      new Date(lastMs).toLocaleString(),
      'Latest:    ' + fixed(latest, d) + u,
      'Average:   ' + fixed(sum / count, d) + u,
      'Min:       ' + fixed(min, d) + u,
      'Max:       ' + fixed(max, d) + u,
      'ET: ' + elapsedText(cols[0][n - 1] - cols[0][0]),
    ].join('\n');
  }

  async function loadSpan() {
    const token = ++loadToken;
    const end = status && status.latest ? Date.parse(status.latest.time) + 1 : Date.now();
    const rows = await readings(end - span * 1000, end, STEPS[span]);
    if (token !== loadToken) return;
    cols = empty(); weight = []; mins = []; maxs = []; lastMs = null;
    rows.forEach(push);
    lastMs = Math.max(lastMs || 0, end - 1);
    draw();
  }

  const COUNTER = {
    connected: ['Counter connected', false],
    looking: ['Looking for the counter', true],
    counts_stopped: ['Counts stopped: check the tube and cable', true],
  };

  function showStatus() {
    const s = status;
    document.title = (s.latest ? s.latest.text + ' ' + s.unit + ' \u2013 ' : '') +
      'Korvinet ' + (s.serial || 'station');
    $('title').textContent = s.title || 'Korvinet station';
    $('device').textContent = [s.model, s.serial].filter(Boolean).join(' \u00b7 ');
    $('value').textContent = s.latest ? s.latest.text : '\u2013';
    $('unit').textContent = s.unit;
    $('alarm').textContent = s.alarm ? 'ALARM' : 'No alarm';
    $('alarm').classList.toggle('on', s.alarm);
    $('band').textContent = s.band
      ? '95 %: ' + fixed(s.band.low, s.decimals) + ' to ' + fixed(s.band.high, s.decimals) + ' ' + s.unit : '';
    const [text, bad] = COUNTER[s.counter] || [s.counter, true];
    $('counter').textContent = text;
    $('counter').classList.toggle('bad', bad);
    const faulty = s.health === 'bursts' || s.health === 'too regular';
    $('health').textContent = faulty ? 'The counts come ' + (s.health === 'bursts'
      ? 'in bursts: check the cable, shielding and tube' : 'too regularly: check for an oscillating input')
      : s.health === 'ok' ? 'Counts look like radiation' : '';
    $('health').classList.toggle('bad', faulty);
    $('taken').textContent = s.latest ? 'Taken ' + new Date(s.latest.time).toLocaleTimeString() +
      (s.averaging ? ', averaging ' + s.averaging : '') : '';
    $('mqtt').textContent = s.mqtt.configured ? s.mqtt.state : 'off';
    $('outbox').textContent = s.mqtt.configured ? String(s.mqtt.waiting) : '\u2013';
    $('readings').textContent = String(s.readings_taken);
    $('uptime').textContent = elapsedText(s.uptime_s);
    $('version').textContent = s.version;
    document.body.classList.remove('offline');
  }

  async function follow() {
    const taken = status.readings_taken;
    if (lastTaken == null || taken < lastTaken) { // first look, or the station restarted
      lastTaken = taken;
      return loadSpan();
    }
    if (taken === lastTaken) return;
    if (taken === lastTaken + 1 && status.latest) {
      push(status.latest);
    } else if (status.latest) {
      const token = loadToken;
      const rows = await readings(lastMs + 1, Date.parse(status.latest.time) + 1, 0);
      if (token !== loadToken) return;
      rows.forEach(push);
    }
    lastTaken = taken;
    trim();
    draw();
  }

  async function poll() {
    try {
      status = (await get('/api/status')).body;
      showStatus();
      await follow();
    } catch (e) {
      document.body.classList.add('offline');
      $('counter').textContent = 'Station not reachable';
    }
    const every = status ? Math.min(5000, Math.max(1000, status.sample_ms)) : 5000;
    setTimeout(poll, every);
  }

  document.querySelectorAll('#spans button').forEach((b) => b.addEventListener('click', () => {
    document.querySelectorAll('#spans button').forEach((o) => o.classList.toggle('on', o === b));
    span = Number(b.dataset.span);
    loadSpan().catch(() => {});
  }));
  window.addEventListener('resize', () => {
    if (chart) chart.setSize({ width: Math.max(240, chartEl.clientWidth), height: chart.height });
  });
  poll();
})();
