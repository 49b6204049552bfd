'use strict';
// The station's page: the status polled every few seconds, the chart filled
// from the journal for the chosen span and then followed reading by reading.
// Times are the station's, labelled with its offset from UTC, as the API and
// the data files give them, whatever zone the browser is in.
(function () {
  const $ = (id) => document.getElementById(id);
  const chartEl = $('chart');
  // Seconds one point averages, finest first: a range takes the first step
  // that keeps it within MAX_POINTS points; an hour or less is every reading.
  const STEPS = [60, 300, 600, 1800, 3600, 10800, 21600, 43200, 86400, 604800];
  const MAX_POINTS = 1500;
  const ROWS_A_PAGE = 10000; // the longest answer the station gives
  const DAY_MS = 86400000;
  // The time axis's labels by the space between ticks, in 24 hours and
  // ISO order as the station's times are written (uPlot's table: format,
  // then the line below it at the first tick and where the year, month,
  // day... changes).
  const TICKS = [
    [86400 * 365, '{YYYY}', null, null, null, null, null, null, 1],
    [86400 * 28, '{YYYY}-{MM}', null, null, null, null, null, null, 1],
    [86400, '{MM}-{DD}', '\n{YYYY}', null, null, null, null, null, 1],
    [60, '{HH}:{mm}', '\n{MM}-{DD}', null, '\n{MM}-{DD}', null, null, null, 1],
    [1, '{HH}:{mm}:{ss}', '\n{MM}-{DD}', null, '\n{MM}-{DD}', null, null, null, 1],
  ];

  let status = null;
  let span = 3600; // seconds; 0: everything the station holds
  let zoom = null; // {from, to} (ms) while zoomed in; a zoom is not followed
  let logScale = false;
  // What the chart shows: from and to (ms, to exclusive), the step (s, 0:
  // every reading) and the start of the step grid (s).
  let view = null;
  // The chart's points in time order (see point()) and gaps: {t, gap: true}.
  let rows = [];
  let newest = null; // ms of the newest reading taken in
  let lastTaken = null;
  let loadToken = 0; // a newer load makes older ones void
  let chart = null;
  let chartKey = '';
  // The dose since the station's midnight: {start, dose, upto (ms of the
  // newest reading counted)}.
  let today = null;
  // The last hour, asked for at once, in parallel with the first status.
  let firstHour = readings(null, null, 0);
  firstHour.catch(() => {}); // a failure is met where it is used

  const pad = (n) => String(n).padStart(2, '0');
  const fixed = (v, d) => (v == null || !isFinite(v) ? '\u2013' : v.toFixed(d));
  const decimals = () => (status ? status.decimals : 3);
  const unit = () => (status ? status.unit : '');

  // The elapsed time as the window's statistics show it: 000d:00h:00m:00s.
  function elapsedText(seconds) {
    const s = Math.max(0, Math.round(seconds));
    return String(Math.floor(s / 86400)).padStart(3, '0') + 'd:' + pad(Math.floor(s / 3600) % 24) +
      'h:' + pad(Math.floor(s / 60) % 60) + 'm:' + pad(s % 60) + 's';
  }

  // Minutes east of UTC that an ISO time names; null when it names none.
  function offsetOf(text) {
    if (!text) return null;
    if (/Z$/.test(text)) return 0;
    const m = /([+-])(\d\d):?(\d\d)$/.exec(text);
    return m ? (m[1] === '-' ? -1 : 1) * (60 * Number(m[2]) + Number(m[3])) : null;
  }
  // The station's offset now: as its status gives it, else as its latest
  // reading carries it.
  function stationOffset() {
    const s = status || {};
    const o = offsetOf(s.utc_offset);
    if (o != null) return o;
    const latest = offsetOf(s.latest && s.latest.time);
    return latest != null ? latest : -new Date().getTimezoneOffset();
  }
  function offsetText(minutes) {
    const a = Math.abs(minutes);
    return 'UTC' + (minutes < 0 ? '-' : '+') + pad(Math.floor(a / 60)) + ':' + pad(a % 60);
  }
  // A moment as the station's clock showed it, with the offset then in force.
  function stationTime(ms, offset, timeOnly) {
    const d = new Date(ms + offset * 60000);
    const time = pad(d.getUTCHours()) + ':' + pad(d.getUTCMinutes()) + ':' + pad(d.getUTCSeconds());
    const date = d.getUTCFullYear() + '-' + pad(d.getUTCMonth() + 1) + '-' + pad(d.getUTCDate());
    return (timeOnly ? time : date + ' ' + time) + ' ' + offsetText(offset);
  }
  // The start of the step holding a moment (s), steps counted from the
  // station's midnight so that days and hours start where its clock does.
  function stepStart(seconds, step) {
    const shift = stationOffset() * 60;
    return Math.floor((seconds + shift) / step) * step - shift;
  }
  function stepFor(seconds) {
    if (seconds <= 3600 * 1.01) return 0;
    return STEPS.find((s) => seconds / s <= MAX_POINTS) || STEPS[STEPS.length - 1];
  }
  function stepText(step) {
    if (!step) return 'Every reading';
    const [n, u] = step % 86400 === 0 ? [step / 86400, 'day']
      : step % 3600 === 0 ? [step / 3600, 'hour'] : [step / 60, 'minute'];
    return 'Means of ' + n + ' ' + u + (n === 1 ? '' : 's');
  }

  async function get(url) {
    // The station marks its answers not to be stored; the first two match
    // the page's preloads.
    const r = await fetch(url);
    if (!r.ok) throw new Error(url + ': ' + r.status);
    const link = r.headers.get('Link');
    const m = link && link.match(/<([^>]+)>;\s*rel="next"/);
    return { body: await r.json(), next: m ? m[1] : null };
  }

  function readingsUrl(fromMs, toMs, step, format) {
    if (fromMs == null) return '/api/readings'; // the last hour by the station's clock
    return '/api/readings?from=' + encodeURIComponent(new Date(fromMs).toISOString()) +
      '&to=' + encodeURIComponent(new Date(toMs).toISOString()) + (step ? '&step=' + step : '') +
      (format ? '&format=' + format : '');
  }

  // All pages of a range, following the server's links.
  async function readings(fromMs, toMs, step) {
    let url = readingsUrl(fromMs, toMs, step);
    const all = [];
    for (let pages = 0; url && pages < 100; pages++) {
      const page = await get(url);
      for (const r of page.body) all.push(r);
      url = page.next;
    }
    return all;
  }

  // A row of the API as a point: t (s); v the value (null: overrange); lo, hi
  // its band; n readings, nv of them with a value, nb with a band; min, max;
  // counts and ms (their live time) for the dose; ac readings in alarm;
  // alarm; off the UTC offset it was taken at (minutes).
  function point(r) {
    const t = Date.parse(r.time) / 1000;
    if (r.gap) return { t, gap: true };
    const n = r.n || 1;
    const v = r.value == null ? null : r.value;
    const banded = r.band_low != null && r.band_high != null;
    // A mean is in alarm when above the level drawn, as the station answers
    // it now (an older station marked a mean when any of its readings was).
    const level = status && status.alarm_level;
    const alarm = r.n && level != null && v != null ? v > level : !!r.alarm;
    return {
      t, v, lo: banded ? r.band_low : null, hi: banded ? r.band_high : null, n,
      nv: v == null ? 0 : n, nb: banded ? n : 0,
      min: r.min != null ? r.min : v, max: r.max != null ? r.max : v,
      counts: r.counts || 0, ms: r.interval_ms || 0,
      ac: r.alarm_count != null ? r.alarm_count : !r.n && r.alarm ? 1 : 0, alarm,
      off: offsetOf(r.time),
    };
  }

  // Seconds between two readings beyond which the counter was not measuring:
  // two sample periods, and a little for the timing of the samples.
  function outage(p) {
    return 2.5 * Math.max(status ? status.sample_ms : 0, p.ms) / 1000;
  }

  // Appends a point or gap in time order. Where the server marks no gaps,
  // a step missing between means or readings too far apart is one.
  function add(p) {
    const last = rows[rows.length - 1];
    // In time order; a gap may share its time with the step it begins in.
    if (last && (p.t < last.t || (p.t === last.t && !last.gap))) return;
    if (p.gap) {
      if (last && !last.gap) rows.push(p);
      return;
    }
    if (last && !last.gap && p.t - last.t > (view.step ? 1.5 * view.step : outage(p)))
      rows.push({ t: (last.t + p.t) / 2, gap: true });
    rows.push(p);
  }

  // A reading into the mean of its step: weighted as the station weighs
  // readings into means.
  function merge(a, p) {
    const mean = (x, nx, y, ny) => (nx ? (x * nx + y * ny) / (nx + ny) : y);
    if (p.nv) {
      a.min = a.nv ? Math.min(a.min, p.min) : p.min;
      a.max = a.nv ? Math.max(a.max, p.max) : p.max;
      a.v = mean(a.v, a.nv, p.v, p.nv);
      a.nv += p.nv;
    }
    if (p.nb) {
      a.lo = mean(a.lo, a.nb, p.lo, p.nb);
      a.hi = mean(a.hi, a.nb, p.hi, p.nb);
      a.nb += p.nb;
    }
    a.n += p.n;
    a.counts += p.counts;
    a.ms += p.ms;
    a.ac += p.ac;
    // A step is in alarm when its mean is above the level, as the server
    // answers it, so that one loud reading does not paint a quiet step.
    const level = status && status.alarm_level;
    a.alarm = level != null && a.v != null ? a.v > level : a.alarm || p.alarm;
  }

  // A live reading: every reading its own point, or folded into the mean of
  // its step, a new step begun when its time comes. before: the time of the
  // reading before it (ms).
  function fold(p, before) {
    if (!view.step) return add(p);
    const last = rows[rows.length - 1];
    if (before != null && last && !last.gap && p.t - before / 1000 > outage(p))
      rows.push({ t: before / 1000 + 0.001, gap: true });
    const start = view.origin + Math.floor((p.t - view.origin) / view.step) * view.step;
    let i = rows.length - 1;
    while (i >= 0 && rows[i].gap) i--;
    if (i >= 0 && rows[i].t === start) merge(rows[i], p);
    else if (i < 0 || rows[i].t < start) rows.push(Object.assign(p, { t: start }));
  }

  // µSv of a point: its counts, compensated for dead time at the rate they
  // came in as the readings are, through the counter's calibration.
  function doseOf(p) {
    const perCpm = status && status.usvh_per_cpm;
    if (!perCpm || !p.ms || p.gap) return 0;
    const load = (p.counts / (p.ms / 60000)) * (status.dead_time_s || 0) / 60;
    const deadTime = load > 0.9 ? 10 : 1 / (1 - load); // capped as the readings are
    return (p.counts * deadTime * perCpm) / 60;
  }
  function doseText(usv) {
    if (!status || !status.usvh_per_cpm) return '\u2013';
    return (usv >= 1000 ? usv.toFixed(0) : usv.toPrecision(3)) + ' \u00b5Sv';
  }

  // The view for a span or zoom ending at end (ms, exclusive).
  function viewFor(end) {
    if (zoom) {
      const step = stepFor((zoom.to - zoom.from) / 1000);
      const from = step ? stepStart(zoom.from / 1000, step) * 1000 : zoom.from;
      return { from, to: zoom.to, step, origin: from / 1000 };
    }
    const first = status && status.first_reading ? Date.parse(status.first_reading)
      : end - 365 * DAY_MS;
    const seconds = span || Math.max(3600, (end - first) / 1000);
    const step = stepFor(seconds);
    const from = step ? stepStart(end / 1000 - seconds, step) * 1000 : end - seconds * 1000;
    return { from, to: end, step, origin: from / 1000 };
  }

  // The view follows the newest reading; points left of it go.
  function advance() {
    if (zoom || newest == null || newest + 1 <= view.to) return;
    const seconds = (view.to - view.from) / 1000;
    view.to = newest + 1;
    if (span) {
      view.from = view.step ? stepStart(view.to / 1000 - span, view.step) * 1000
        : view.to - seconds * 1000;
    }
    let cut = 0;
    while (cut < rows.length && (rows[cut].t < view.from / 1000 || rows[cut].gap)) cut++;
    if (cut) rows = rows.slice(cut);
  }

  function latestMs() {
    return status && status.latest ? Date.parse(status.latest.time) : null;
  }

  async function load() {
    const token = ++loadToken;
    const fresh = firstHour && span === 3600 && !zoom ? firstHour : null;
    firstHour = null;
    const end = zoom ? zoom.to : (latestMs() != null ? latestMs() : Date.now()) + 1;
    const v = viewFor(end);
    const got = await (fresh || readings(v.from, v.to, v.step));
    if (token !== loadToken) return;
    view = v;
    rows = [];
    got.forEach((r) => add(point(r)));
    if (!zoom) {
      // Every reading before end is held; with no reading taken yet, end is
      // the browser's clock, which need not be the station's.
      const last = rows.length ? rows[rows.length - 1].t * 1000 : null;
      newest = latestMs() != null ? Math.max(end - 1, last || 0) : last;
      advance();
    }
    draw();
    if (!zoom) await loadToday(token);
  }

  // The dose since the station's midnight: its minutes from the journal (an
  // hour of the history begins on a whole hour of UTC, midnight need not), then
  // each reading as it comes.
  async function loadToday(token) {
    if (!status || !status.usvh_per_cpm || newest == null) {
      today = null;
      return showToday();
    }
    const shift = stationOffset() * 60000;
    const start = Math.floor((newest + shift) / DAY_MS) * DAY_MS - shift;
    const end = newest + 1;
    const got = await readings(start, end, 60);
    if (token !== loadToken) return;
    today = { start, dose: got.reduce((sum, r) => sum + doseOf(point(r)), 0), upto: end - 1 };
    showToday();
  }
  function addToday(p) {
    const ms = p.t * 1000;
    if (!today || ms <= today.upto) return;
    if (ms >= today.start + DAY_MS) {
      const shift = stationOffset() * 60000;
      today = { start: Math.floor((ms + shift) / DAY_MS) * DAY_MS - shift, dose: 0 };
    }
    today.dose += doseOf(p);
    today.upto = ms;
  }
  function showToday() {
    $('today').textContent = today ? 'Dose today ' + doseText(today.dose) + ' (since ' +
      stationTime(today.start, stationOffset(), true).replace(':00 UTC', ' UTC') + ')' : '';
  }

  function columns() {
    // A log scale has no place for 0: such a value is left out, such a band
    // limit drawn below the chart.
    const y = (v) => (v == null || (logScale && v <= 0) ? null : v);
    const low = (v) => (v == null ? null : logScale && v <= 0 ? 1e-12 : v);
    const c = [[], [], [], [], []];
    for (const p of rows) {
      c[0].push(p.t);
      c[1].push(p.gap ? null : y(p.v));
      c[2].push(p.gap ? null : low(p.lo));
      c[3].push(p.gap ? null : y(p.hi));
      c[4].push(!p.gap && p.alarm ? y(p.v) : null);
    }
    return c;
  }

  // The readings and the band as wide as it usually is, not as the first
  // readings after a start make it (their averaging window barely filled),
  // and the alarm level where it is near them.
  function yRange() {
    let lo = Infinity, hi = -Infinity;
    const half = [];
    for (const p of rows) {
      if (p.gap || p.v == null || (logScale && p.v <= 0)) continue;
      lo = Math.min(lo, p.v);
      hi = Math.max(hi, p.v);
      if (p.nb) half.push((p.hi - p.lo) / 2);
    }
    if (lo > hi) return logScale ? [0.01, 1] : [0, 1];
    const level = status && status.alarm_level;
    if (level != null && level > 0 && level <= 2 * hi && level >= lo / 2) {
      lo = Math.min(lo, level);
      hi = Math.max(hi, level);
    }
    half.sort((a, b) => a - b);
    const margin = Math.max(half.length ? half[half.length >> 1] : 0, (hi - lo) * 0.05,
      Math.abs(hi) * 0.02, 1e-9);
    const bottom = lo - margin;
    if (logScale) return [bottom > 0 ? bottom : lo / 2, hi + margin];
    return [lo >= 0 && bottom < 0 ? 0 : bottom, hi + margin];
  }

  function drawLevel(u) {
    const level = status && status.alarm_level;
    if (level == null) return;
    const y = Math.round(u.valToPos(level, 'y', true)) + 0.5;
    if (y < u.bbox.top || y > u.bbox.top + u.bbox.height) return;
    const ctx = u.ctx;
    ctx.save();
    ctx.strokeStyle = css('--alarm');
    ctx.lineWidth = devicePixelRatio;
    ctx.setLineDash([6 * devicePixelRatio, 4 * devicePixelRatio]);
    ctx.beginPath();
    ctx.moveTo(u.bbox.left, y);
    ctx.lineTo(u.bbox.left + u.bbox.width, y);
    ctx.stroke();
    ctx.restore();
  }

  function readout(i) {
    const p = i == null ? null : rows[i];
    if (!p || p.gap) {
      $('readout').textContent = '\u00a0';
      return;
    }
    const d = decimals(), u = ' ' + unit();
    $('readout').textContent = stationTime(p.t * 1000, p.off != null ? p.off : stationOffset()) +
      ': ' + fixed(p.v, d) + u + (view.step ? ' (mean of ' + p.n + ' readings, ' +
      fixed(p.min, d) + ' to ' + fixed(p.max, d) + (p.ac ? ', ' + p.ac + ' in alarm' : '') + ')'
      : '') + (p.alarm ? ', alarm' : '');
  }

  // Zooms into what was dragged across.
  function selected(u) {
    if (u.select.width < 4) return;
    let from = u.posToVal(u.select.left, 'x') * 1000;
    let to = u.posToVal(u.select.left + u.select.width, 'x') * 1000;
    u.setSelect({ left: 0, top: 0, width: 0, height: 0 }, false);
    if (to - from < 60000) { // a minute at least
      from = (from + to) / 2 - 30000;
      to = from + 60000;
    }
    zoom = { from: Math.round(from), to: Math.round(to) };
    $('reset').hidden = false;
    load().catch(() => {});
  }

  function css(name) {
    return getComputedStyle(document.documentElement).getPropertyValue(name).trim();
  }

  function makeChart() {
    const offset = stationOffset();
    const axis = (more) => Object.assign({ stroke: css('--muted'), grid: { stroke: css('--grid') },
      ticks: { stroke: css('--grid') }, labelSize: 18, labelFont: '12px system-ui, sans-serif' }, more);
    const hidden = () => ({ stroke: 'transparent', points: { show: false } });
    return new uPlot({
      width: Math.max(240, chartEl.clientWidth),
      height: chartEl.clientWidth < 500 ? 240 : 320,
      legend: { show: false },
      cursor: { drag: { x: true, y: false, setScale: false }, points: { show: false } },
      // The axis in the station's time, whatever the browser's zone.
      tzDate: (ts) => new Date(ts * 1000 + (offset + new Date(ts * 1000).getTimezoneOffset()) * 60000),
      scales: {
        x: { time: true, range: () => [view.from / 1000, view.to / 1000] },
        y: logScale ? { distr: 3, log: 10, range: yRange } : { range: yRange },
      },
      series: [
        {},
        // Points shown by uPlot only where they stand far apart: a lone mean.
        { stroke: css('--line'), width: 1.5 },
        hidden(), hidden(),
        { stroke: css('--alarm'), width: 2 },
      ],
      bands: [{ series: [3, 2], fill: css('--band') }],
      axes: [
        axis({ label: 'Station time (' + offsetText(offset) + ')', values: TICKS,
          space: chartEl.clientWidth < 500 ? 64 : 50 }),
        axis({ label: unit(), size: 56 }),
      ],
      hooks: {
        draw: [drawLevel],
        setSelect: [selected],
        setCursor: [(u) => readout(u.cursor.idx)],
      },
    }, columns(), chartEl);
  }

  function draw() {
    if (!view) return;
    const dark = matchMedia('(prefers-color-scheme: dark)').matches;
    const key = [unit(), stationOffset(), logScale, dark].join();
    if (chart && key !== chartKey) {
      chart.destroy();
      chart = null;
    }
    chartKey = key;
    if (!chart) chart = makeChart();
    else chart.setData(columns());
    const points = rows.filter((p) => !p.gap).length;
    chartEl.dataset.points = String(points);
    chartEl.dataset.step = String(view.step);
    chartEl.dataset.from = String(view.from); // the span drawn, ms since 1970
    chartEl.dataset.to = String(view.to);
    const level = status && status.alarm_level;
    $('caption').textContent = stepText(view.step) + ', ' + unit() + ', at the station\u2019s time (' +
      offsetText(stationOffset()) + '); the light band is the 95 % range' +
      (level != null ? '; dashed, the alarm level ' + fixed(level, decimals()) + ' ' + unit() +
        (level > yRange()[1] ? ' (above the chart)' : '') : '') +
      '. Drag across the chart to zoom in.';
    let step = view.step;
    const seconds = (view.to - view.from) / 1000;
    if (!step && status && (seconds * 1000) / status.sample_ms > ROWS_A_PAGE)
      step = Math.ceil(seconds / ROWS_A_PAGE); // one data file, however fast the sampling
    $('download').href = readingsUrl(view.from, view.to, step, 'csv');
    if (points && !document.body.dataset.firstRenderMs)
      document.body.dataset.firstRenderMs = String(Math.round(performance.now()));
    stats();
  }

  // As the window's statistics: latest, average, min, max and the elapsed
  // time, and the dose over the span.
  function stats() {
    const shown = rows.filter((p) => !p.gap && p.nv);
    if (!shown.length || !status) {
      $('stats').textContent = 'No readings in this span.';
      return;
    }
    let sum = 0, count = 0, min = Infinity, max = -Infinity, dose = 0;
    for (const p of rows) {
      dose += doseOf(p);
      if (p.gap || !p.nv) continue;
      sum += p.v * p.nv;
      count += p.nv;
      min = Math.min(min, p.min);
      max = Math.max(max, p.max);
    }
    const first = shown[0], last = shown[shown.length - 1];
    const d = decimals(), u = ' ' + unit();
    const latest = !zoom && status.latest && status.latest.value != null ? status.latest.value : last.v;
    const at = zoom || newest == null ? last.t * 1000 : newest;
    $('stats').textContent = [
      stationTime(at, zoom ? last.off : stationOffset()),
      'Latest:    ' + fixed(latest, d) + u,
      'Average:   ' + fixed(sum / count, d) + u,
      'Min:       ' + fixed(min, d) + u,
      'Max:       ' + fixed(max, d) + u,
      'ET: ' + elapsedText(last.t - first.t),
      'Dose:      ' + doseText(dose),
    ].join('\n');
  }

  const COUNTER = {
    connected: ['Counter connected', false],
    looking: ['Looking for the counter', true],
    counts_stopped: ['Counts stopped: check the tube and cable', true],
  };

  function showStatus() {
    const s = status;
    document.title = (s.latest ? s.latest.text + ' ' + s.unit + ' \u2013 ' : '') +
      (s.alarm ? 'ALARM \u2013 ' : '') + 'Korvinet ' + (s.serial || 'station');
    $('title').textContent = s.title || 'Korvinet station';
    $('device').textContent = [s.model, s.serial].filter(Boolean).join(' \u00b7 ');
    $('value').textContent = s.latest ? s.latest.text : '\u2013';
    $('unit').textContent = s.unit;
    $('alarm').textContent = s.alarm ? 'ALARM' : 'No alarm';
    $('alarm').className = 'badge' + (s.alarm ? ' on' : '');
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
    $('taken').textContent = s.latest ? 'Taken ' + stationTime(latestMs(), offsetOf(s.latest.time), true) +
      (s.averaging ? ', averaging ' + s.averaging : '') : '';
    $('mqtt').textContent = s.mqtt.configured ? s.mqtt.state : 'off';
    $('outbox').textContent = s.mqtt.configured ? String(s.mqtt.waiting) : '\u2013';
    $('readings').textContent = String(s.readings_taken);
    $('uptime').textContent = elapsedText(s.uptime_s);
    $('version').textContent = s.version;
    document.body.classList.remove('offline');
  }

  // Not heard from: nothing shown may pass for the station's state now.
  function showUnreachable() {
    document.body.classList.add('offline');
    $('counter').textContent = 'Station not reachable';
    $('counter').classList.add('bad');
    $('alarm').textContent = 'Alarm unknown';
    $('alarm').className = 'badge unknown';
    document.title = 'Unknown \u2013 Korvinet ' + ((status && status.serial) || 'station');
  }

  async function follow() {
    const taken = status.readings_taken;
    if (lastTaken == null || taken < lastTaken || !view) { // first look, or the station restarted
      lastTaken = taken;
      return load();
    }
    if (taken === lastTaken || !status.latest) return;
    const token = loadToken;
    const fresh = taken === lastTaken + 1 ? [status.latest]
      : await readings(newest != null ? newest + 1 : view.from, latestMs() + 1, 0);
    if (token !== loadToken) return;
    for (const r of fresh) {
      const p = point(r);
      if (p.gap || (newest != null && p.t * 1000 <= newest)) continue;
      const before = newest;
      newest = p.t * 1000;
      addToday(p);
      if (!zoom) fold(p, before);
    }
    lastTaken = taken;
    advance();
    draw();
    showToday();
  }

  async function poll() {
    try {
      status = (await get('/api/status')).body;
      showStatus();
      await follow();
    } catch (e) {
      showUnreachable();
    }
    const every = status ? Math.min(5000, Math.max(1000, status.sample_ms)) : 5000;
    setTimeout(poll, every);
  }

  document.querySelectorAll('#spans button').forEach((b) => b.addEventListener('click', () => {
    document.querySelectorAll('#spans button').forEach((o) => o.classList.toggle('on', o === b));
    span = Number(b.dataset.span);
    zoom = null;
    $('reset').hidden = true;
    load().catch(() => {});
  }));
  $('reset').addEventListener('click', () => {
    zoom = null;
    $('reset').hidden = true;
    load().catch(() => {});
  });
  $('log').addEventListener('change', (e) => {
    logScale = e.target.checked;
    draw();
  });
  matchMedia('(prefers-color-scheme: dark)').addEventListener('change', draw);
  window.addEventListener('resize', () => {
    if (chart) chart.setSize({ width: Math.max(240, chartEl.clientWidth), height: chart.height });
  });
  poll();
})();
