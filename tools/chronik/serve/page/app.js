// The event page: asks the server for the range's events and the active
// faults every second and draws them as tables and a timeline, one row per
// station; exports what it shows as CSV.
'use strict';
(() => {
  const POLL_MS = 1000;
  const OPEN_END = 4294967295;
  const SVG_NS = 'http://www.w3.org/2000/svg';
  const NOTICE = '提示';
  const CATEGORY_CLASS = { '系统': 'cat-system', '模块': 'cat-module', '已清除': 'cat-cleared', '提示': 'cat-notice' };
  const COLUMNS = ['发生时间', '清除时间', '持续时间', '类别', '控制站', '信息'];
  const TICK_STEPS = [60, 300, 600, 1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800, 2592000];

  const $ = (id) => document.getElementById(id);
  const data = { events: [], active: [], from: 0, to: OPEN_END, truncated: false };
  const seen = { eventsText: '', activeText: '', stations: new Set() };
  let generation = 0;  // counts filter changes: answers to older filters are dropped
  let busy = false;
  let asking = 0;      // the generation of the poll under way
  let again = false;   // the filters changed while it was under way
  let updates = 0;

  const pad2 = (n) => String(n).padStart(2, '0');
  const nowSeconds = () => Math.floor(Date.now() / 1000);
  const stationText = (s) => (s ? pad2(s) + '#控制站' : '');
  const isFault = (e) => e.categoryText !== NOTICE;

  function durationText(seconds) {
    if (!(seconds >= 0)) return '';
    const d = Math.floor(seconds / 86400);
    const h = Math.floor((seconds % 86400) / 3600);
    const m = Math.floor((seconds % 3600) / 60);
    let text = d ? d + '天' : '';
    if (d || h) text += h + '小时';
    if (d || h || m) text += m + '分';
    return text + Math.floor(seconds % 60) + '秒';
  }

  function localText(t, withDate) {
    const d = new Date(t * 1000);
    const time = pad2(d.getHours()) + ':' + pad2(d.getMinutes());
    return withDate ? pad2(d.getMonth() + 1) + '-' + pad2(d.getDate()) + ' ' + time : time;
  }

  // The texts of an event's row, as the table shows them and CSV exports them.
  function eventCells(e, now) {
    let clear = e.clearTimeText;
    let duration = '';
    if (clear) duration = e.clearTime ? durationText(e.clearTime - e.time) : '';
    else if (isFault(e)) {
      clear = '未清除';
      duration = '已持续' + durationText(now - e.time);
    }
    return [e.timeText, clear, duration, e.categoryText, stationText(e.station), e.messageText];
  }

  function tableRow(cells, classes, rowClass) {
    const tr = document.createElement('tr');
    tr.className = rowClass;
    cells.forEach((text, i) => {
      const td = document.createElement('td');
      td.textContent = text;
      td.className = classes[i];
      tr.appendChild(td);
    });
    return tr;
  }

  function renderActive(now) {
    const body = $('active').querySelector('tbody');
    const classes = ['time', 'station', 'category', 'message', 'duration'];
    body.replaceChildren(...data.active.map((e) => {
      const cells = [e.timeText, stationText(e.station), e.categoryText, e.messageText, durationText(now - e.time)];
      const tr = tableRow(cells, classes, (CATEGORY_CLASS[e.categoryText] || '') + ' open');
      tr.dataset.time = e.time;
      return tr;
    }));
    $('active-count').textContent = '(' + data.active.length + ')';
    $('active-empty').hidden = data.active.length > 0;
  }

  function renderEvents(now) {
    const body = $('events').querySelector('tbody');
    const classes = ['time', 'clear', 'duration', 'category', 'station', 'message'];
    body.replaceChildren(...data.events.map((e) => {
      const open = isFault(e) && !e.clearTimeText;
      const tr = tableRow(eventCells(e, now), classes, (CATEGORY_CLASS[e.categoryText] || '') + (open ? ' open' : ''));
      tr.dataset.time = e.time;
      return tr;
    }));
    $('events-count').textContent = '(' + data.events.length + ')';
    $('events-empty').hidden = data.events.length > 0;
    const note = $('truncated');
    note.hidden = !data.truncated;
    note.textContent = '记录过多，仅显示最新的 ' + data.events.length + ' 条';
  }

  function svgElement(name, attributes, text) {
    const el = document.createElementNS(SVG_NS, name);
    for (const [key, value] of Object.entries(attributes)) el.setAttribute(key, value);
    if (text !== undefined) el.textContent = text;
    return el;
  }

  // The time axis: the queried range; an open end ends now (or at the
  // latest event), a range from 0 begins at the earliest fault.
  function axis(faults, now) {
    let start = data.from;
    if (start === 0) start = faults.reduce((t, e) => Math.min(t, e.time), now - 3600);
    let end = data.to;
    if (end === OPEN_END) end = faults.reduce((t, e) => Math.max(t, e.time, e.clearTime), now);
    return { start, end: Math.max(end, start + 60) };
  }

  function drawTicks(svg, span, x, height) {
    const step = TICK_STEPS.find((s) => (span.end - span.start) / s <= 8) || TICK_STEPS[TICK_STEPS.length - 1];
    const offset = -new Date(span.start * 1000).getTimezoneOffset() * 60;
    const withDate = span.end - span.start >= 2 * 86400 || step >= 86400;
    for (let t = Math.ceil((span.start + offset) / step) * step - offset; t <= span.end; t += step) {
      svg.appendChild(svgElement('line', { class: 'grid', x1: x(t), x2: x(t), y1: 16, y2: height }));
      svg.appendChild(svgElement('text', { class: 'tick', x: x(t), y: 12, 'text-anchor': 'middle' }, localText(t, withDate)));
    }
  }

  function drawBar(svg, e, x, y, span, now) {
    const end = e.clearTime || now;
    const x0 = x(Math.max(e.time, span.start));
    const x1 = x(Math.min(end, span.end));
    const kind = e.isStationEvent ? 'cat-system' : 'cat-module';
    const bar = svgElement('rect', {
      class: 'bar ' + kind + (e.clearTime ? ' cleared' : ' open'),
      x: x0, y, width: Math.max(2, x1 - x0), height: 14, 'data-station': e.station, 'data-time': e.time,
    });
    const cells = eventCells(e, now);
    bar.appendChild(svgElement('title', {}, [cells[5], cells[0] + ' — ' + cells[1], cells[2]].join('\n')));
    svg.appendChild(bar);
  }

  function renderTimeline(now) {
    const svg = $('timeline-svg');
    const faults = data.events.filter((e) => e.station && isFault(e));
    const stations = [...new Set(faults.map((e) => e.station))].sort((a, b) => a - b);
    svg.replaceChildren();
    $('timeline-empty').hidden = stations.length > 0;
    svg.classList.toggle('none', stations.length === 0);
    const width = Math.max(600, svg.clientWidth || 1000);
    const left = 96, top = 22, rowHeight = 22;
    const height = top + rowHeight * stations.length + 4;
    svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
    svg.setAttribute('height', height);
    const span = axis(faults, now);
    const x = (t) => left + ((Math.min(Math.max(t, span.start), span.end) - span.start) / (span.end - span.start)) * (width - left - 8);
    const row = new Map(stations.map((s, i) => [s, top + rowHeight * i]));
    stations.forEach((s, i) => {
      if (i % 2 === 0) svg.appendChild(svgElement('rect', { class: 'row-band', x: 0, y: row.get(s), width, height: rowHeight }));
      svg.appendChild(svgElement('text', { class: 'row-label', x: 4, y: row.get(s) + 15 }, stationText(s)));
    });
    drawTicks(svg, span, x, height);
    faults.forEach((e) => drawBar(svg, e, x, row.get(e.station) + 4, span, now));
  }

  function renderStations() {
    const select = $('station');
    const known = [...select.options].map((o) => o.value).filter((v) => v).map(Number);
    const all = [...seen.stations].sort((a, b) => a - b);
    if (all.length === known.length) return;
    const chosen = select.value;
    select.replaceChildren(new Option('全部', ''), ...all.map((s) => new Option(stationText(s), String(s))));
    select.value = chosen;
  }

  function render() {
    const now = nowSeconds();
    renderActive(now);
    renderEvents(now);
    renderTimeline(now);
    renderStations();
    document.body.dataset.updates = updates;
  }

  function setStatus(text, error) {
    const status = $('status');
    status.textContent = text;
    status.classList.toggle('error', !!error);
  }

  // "YYYY-MM-DD", "YYYY-MM-DD HH:MM" and seconds are completed to what the
  // server takes; null for a text it would refuse.
  function timeParameter(text) {
    text = text.trim();
    if (text === '' || /^\d+$/.test(text)) return text;
    if (/^\d{4}-\d{2}-\d{2}$/.test(text)) text += ' 00:00:00';
    else if (/^\d{4}-\d{2}-\d{2} \d{2}:\d{2}$/.test(text)) text += ':00';
    return /^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}$/.test(text) ? text : null;
  }

  function filterParameters() {
    const params = new URLSearchParams();
    for (const id of ['from', 'to']) {
      const input = $(id);
      const value = timeParameter(input.value);
      input.classList.toggle('invalid', value === null);
      if (value === null) throw new Error((id === 'from' ? '开始' : '结束') + '时间格式应为 YYYY-MM-DD HH:MM:SS');
      if (value) params.set(id, value);
    }
    if ($('station').value) params.set('station', $('station').value);
    return params;
  }

  async function fetchText(url) {
    const response = await fetch(url, { cache: 'no-cache' });
    const text = await response.text();
    if (!response.ok) {
      let message = 'HTTP ' + response.status;
      try { message = JSON.parse(text).error || message; } catch (ignored) { /* not JSON */ }
      throw new Error('查询被拒绝：' + message);
    }
    return text;
  }

  function take(eventsText, activeText) {
    if (eventsText !== seen.eventsText) {
      const body = JSON.parse(eventsText);
      Object.assign(data, { events: body.events, from: body.from, to: body.to, truncated: body.truncated });
      seen.eventsText = eventsText;
    }
    if (activeText !== seen.activeText) {
      data.active = JSON.parse(activeText).events;
      seen.activeText = activeText;
    }
    for (const e of data.events.concat(data.active)) if (e.station) seen.stations.add(e.station);
  }

  async function poll() {
    if (busy) {
      again = again || asking !== generation;
      return;
    }
    busy = true;
    const asked = asking = generation;
    try {
      const params = filterParameters();
      const station = params.get('station');
      const active = station ? '?station=' + station : '';
      const [eventsText, activeText] = await Promise.all([
        fetchText('/api/events?' + params), fetchText('/api/active' + active)]);
      if (asked === generation) {
        take(eventsText, activeText);
        updates++;
        setStatus('实时更新 · 更新于 ' + new Date().toLocaleTimeString('zh-CN', { hour12: false }));
      }
    } catch (err) {
      setStatus(err instanceof TypeError ? '连接中断，正在重试…' : err.message, true);
    } finally {
      busy = false;
      render();
      if (again) {
        again = false;
        poll();
      }
    }
  }

  function csvText() {
    const now = nowSeconds();
    const quote = (s) => '"' + String(s).replace(/"/g, '""') + '"';
    const lines = [COLUMNS].concat(data.events.map((e) => eventCells(e, now)));
    return '\ufeff' + lines.map((cells) => cells.map(quote).join(',')).join('\r\n') + '\r\n';
  }

  function exportCsv() {
    const d = new Date();
    const stamp = d.getFullYear() + pad2(d.getMonth() + 1) + pad2(d.getDate()) + '-' +
      pad2(d.getHours()) + pad2(d.getMinutes()) + pad2(d.getSeconds());
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([csvText()], { type: 'text/csv;charset=utf-8' }));
    link.download = '诊断事件-' + stamp + '.csv';
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  }

  function applyFilters(event) {
    if (event) event.preventDefault();
    try {
      const params = filterParameters();
      history.replaceState(null, '', params.toString() ? '?' + params : location.pathname);
    } catch (err) {
      setStatus(err.message, true);
      return;
    }
    generation++;
    poll();
  }

  function start() {
    const query = new URLSearchParams(location.search);
    $('from').value = query.get('from') || '';
    $('to').value = query.get('to') || '';
    const station = Number(query.get('station'));
    if (station) {
      seen.stations.add(station);
      renderStations();
      $('station').value = String(station);
    }
    $('filters').addEventListener('submit', applyFilters);
    $('station').addEventListener('change', () => applyFilters());
    $('export').addEventListener('click', exportCsv);
    window.addEventListener('resize', () => renderTimeline(nowSeconds()));
    window.diagPage = { csv: csvText };
    poll();
    setInterval(poll, POLL_MS);
  }

  start();
})();
