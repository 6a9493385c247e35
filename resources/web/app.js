// The Telvox web page: signs in, lists the messages, plays them, and follows the program's
// events. Every text from the server goes into the page as text, never as markup.
'use strict';
(function () {
  const $ = (id) => document.getElementById(id);
  const state = { csrf: '', list: 'unread', lang: 'en', events: null, playingId: 0, playingUnread: false };

  function pickLanguage() {
    const chosen = localStorage.getItem('telvox-language') || 'auto';
    $('language').value = chosen;
    if (chosen !== 'auto') return chosen;
    for (const l of navigator.languages || [navigator.language || 'en']) {
      const lower = l.toLowerCase();
      if (lower.startsWith('zh')) {
        return /(tw|hk|mo|hant)/.test(lower) ? 'zh-TW' : 'zh-CN';
      }
      if (lower.startsWith('en')) return 'en';
    }
    return 'en';
  }

  function t(key, ...args) {
    const table = window.TELVOX_TEXTS[state.lang] || window.TELVOX_TEXTS.en;
    let text = table[key] !== undefined ? table[key] : (window.TELVOX_TEXTS.en[key] || key);
    args.forEach((a, i) => { text = text.replace('{' + i + '}', a); });
    return text;
  }

  function applyTexts() {
    document.documentElement.lang = state.lang;
    document.querySelectorAll('[data-t]').forEach((el) => { el.textContent = t(el.dataset.t); });
  }

  function announce(text) {
    $('announce').textContent = '';
    setTimeout(() => { $('announce').textContent = text; }, 50);
  }

  async function api(method, path, body) {
    const options = { method, credentials: 'same-origin', headers: {} };
    if (method !== 'GET') options.headers['X-CSRF-Token'] = state.csrf;
    if (body !== undefined) {
      options.headers['Content-Type'] = 'application/json';
      options.body = JSON.stringify(body);
    }
    const response = await fetch(path, options);
    if (response.status === 401 && path !== '/api/login') {
      showLogin();
      throw new Error('signed out');
    }
    let data = null;
    try { data = await response.json(); } catch (e) { data = null; }
    if (!response.ok) {
      const error = new Error((data && data.error) || response.statusText);
      error.status = response.status;
      error.retryAfter = response.headers.get('Retry-After');
      throw error;
    }
    return data;
  }

  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function button(text, onClick, className) {
    const b = el('button', className, text);
    b.type = 'button';
    b.addEventListener('click', onClick);
    return b;
  }

  function formatTime(iso) {
    if (!iso) return '';
    const d = new Date(iso);
    return isNaN(d) ? iso : d.toLocaleString(state.lang);
  }

  function callerText(m) {
    if (m.name && m.caller) return m.name + ' (' + m.caller + ')';
    return m.name || m.caller || t('unknownCaller');
  }

  async function loadMessages() {
    const data = await api('GET', '/api/messages?list=' + state.list + '&limit=50');
    const list = $('messages');
    list.replaceChildren();
    $('messages-empty').hidden = data.messages.length > 0;
    for (const m of data.messages) {
      const item = el('li', m.unread ? 'unread' : '');
      item.dataset.id = String(m.id);
      const text = el('div');
      text.append(el('div', 'who', callerText(m)));
      const meta = [t('kind_' + m.kind), formatTime(m.time), t('seconds', m.seconds)];
      if (m.line !== null) meta.push(t('line', m.line));
      text.append(el('div', 'meta', meta.filter(Boolean).join(' · ')));
      const actions = el('div', 'actions');
      const who = callerText(m);
      const play = button(t('play'), () => playMessage(m));
      play.setAttribute('aria-label', t('play') + ': ' + who);
      play.className = 'play';
      actions.append(play);
      const toggle = button(m.unread ? t('markRead') : t('markUnread'),
        () => act(() => api('POST', '/api/messages/' + m.id + (m.unread ? '/read' : '/unread'))));
      toggle.className = m.unread ? 'mark-read' : 'mark-unread';
      toggle.setAttribute('aria-label', toggle.textContent + ': ' + who);
      actions.append(toggle);
      if (m.caller) {
        const block = button(t('block'), () => blockCaller(m.caller, m.name));
        block.className = 'block';
        block.setAttribute('aria-label', t('block') + ': ' + who);
        actions.append(block);
      }
      const del = button(t('remove'), () => {
        if (confirm(t('confirmDelete'))) act(() => api('DELETE', '/api/messages/' + m.id));
      }, 'danger delete');
      del.setAttribute('aria-label', t('remove') + ': ' + who);
      actions.append(del);
      item.append(text, actions);
      list.append(item);
    }
  }

  function playMessage(m) {
    const audio = $('audio');
    state.playingId = m.id;
    state.playingUnread = m.unread;
    audio.src = m.audio;
    $('now-playing').textContent = t('playing', callerText(m) + ' ' + formatTime(m.time));
    audio.play().catch(() => {});
    audio.focus();
  }

  async function act(action) {
    try {
      await action();
      await loadMessages();
    } catch (e) {
      if (e.message !== 'signed out') announce(t('failed', e.message));
    }
  }

  async function blockCaller(number, name) {
    try {
      const data = await api('GET', '/api/blocklist');
      if (!data.entries.some((e) => e.entry === number)) {
        data.entries.push({ entry: number, label: name || '' });
        await api('PUT', '/api/blocklist', { entries: data.entries });
      }
      announce(t('blockedNotice', number));
      await loadLists();
    } catch (e) {
      if (e.message !== 'signed out') announce(t('failed', e.message));
    }
  }

  function fillCalls(id, calls) {
    const list = $(id);
    list.replaceChildren();
    if (!calls.length) list.append(el('li', '', t('none')));
    for (const c of calls) {
      const parts = [c.name ? c.name + ' (' + c.number + ')' : c.number];
      if (c.time) parts.push(formatTime(c.time));
      if (c.label) parts.push(c.label);
      list.append(el('li', '', parts.join(' · ')));
    }
  }

  async function loadCalls() {
    const data = await api('GET', '/api/calls');
    fillCalls('calls-received', data.received);
    fillCalls('calls-made', data.made);
    fillCalls('calls-blocked', data.blocked);
  }

  async function loadLists() {
    for (const kind of ['block', 'allow']) {
      const path = '/api/' + kind + 'list';
      const data = await api('GET', path);
      const list = $(kind + 'list');
      list.replaceChildren();
      if (!data.entries.length) list.append(el('li', '', t('none')));
      data.entries.forEach((e, index) => {
        const item = el('li');
        item.append(el('span', '', e.label ? e.entry + ' · ' + e.label : e.entry));
        const remove = button('×', async () => {
          const rest = data.entries.filter((_, i) => i !== index);
          await saveList(path, rest);
        }, 'danger');
        remove.setAttribute('aria-label', t('removeEntry', e.entry));
        item.append(remove);
        list.append(item);
      });
    }
  }

  async function saveList(path, entries) {
    $('lists-error').textContent = '';
    try {
      await api('PUT', path, { entries });
      await loadLists();
    } catch (e) {
      if (e.message !== 'signed out') $('lists-error').textContent = t('failed', e.message);
    }
  }

  async function loadLines() {
    const data = await api('GET', '/api/lines');
    const list = $('lines');
    list.replaceChildren();
    for (const l of data.lines) {
      const item = el('li');
      item.append(el('span', '', t('line', l.line) + ': '));
      item.append(el('span', 'state', t('state_' + l.state)));
      if (l.caller) item.append(el('span', '', ' · ' + l.caller));
      if (l.registration) item.append(el('div', 'meta', l.registration));
      list.append(item);
    }
  }

  function followEvents() {
    if (state.events) state.events.close();
    const events = new EventSource('/api/events');
    state.events = events;
    const quietly = (f) => () => { f().catch(() => {}); };
    events.addEventListener('message', (e) => {
      announce(t('newMessage'));
      quietly(loadMessages)();
      quietly(loadCalls)();
    });
    events.addEventListener('messages', quietly(loadMessages));
    events.addEventListener('line', quietly(loadLines));
    events.addEventListener('callerid', quietly(loadLines));
    events.addEventListener('ring', (e) => {
      const data = JSON.parse(e.data);
      announce(t('ringing', data.line));
    });
    events.addEventListener('calls', quietly(loadCalls));
    events.addEventListener('lists', quietly(loadLists));
    events.onerror = () => {
      // The stream ends when the session does: find out which.
      if (events.readyState === EventSource.CLOSED) api('GET', '/api/session').catch(() => {});
    };
  }

  async function showApp() {
    $('login').hidden = true;
    $('app').hidden = false;
    $('logout').hidden = false;
    await Promise.all([loadLines(), loadMessages(), loadCalls(), loadLists()]);
    followEvents();
  }

  function showLogin() {
    if (state.events) { state.events.close(); state.events = null; }
    state.csrf = '';
    $('app').hidden = true;
    $('logout').hidden = true;
    $('login').hidden = false;
    $('password').focus();
  }

  function setList(list) {
    state.list = list;
    $('show-unread').setAttribute('aria-pressed', String(list === 'unread'));
    $('show-recent').setAttribute('aria-pressed', String(list === 'recent'));
    loadMessages().catch(() => {});
  }

  async function start() {
    state.lang = pickLanguage();
    applyTexts();
    $('language').addEventListener('change', () => {
      localStorage.setItem('telvox-language', $('language').value);
      state.lang = pickLanguage();
      applyTexts();
      if (!$('app').hidden) showApp().catch(() => {});
    });
    $('login-form').addEventListener('submit', async (e) => {
      e.preventDefault();
      $('login-error').textContent = '';
      try {
        const data = await api('POST', '/api/login', { password: $('password').value });
        state.csrf = data.csrf;
        $('password').value = '';
        await showApp();
        $('main').focus();
      } catch (err) {
        $('login-error').textContent = err.status === 429 ? t('tooMany', err.retryAfter || '?')
          : err.status === 503 ? t('noPassword') : t('wrongPassword');
      }
    });
    $('logout').addEventListener('click', async () => {
      try { await api('POST', '/api/logout'); } catch (e) { /* signed out anyway */ }
      showLogin();
    });
    // A message heard to its end is read, as when it is played on the telephone.
    $('audio').addEventListener('ended', () => {
      if (!state.playingUnread) return;
      state.playingUnread = false;
      act(() => api('POST', '/api/messages/' + state.playingId + '/read'));
    });
    $('show-unread').addEventListener('click', () => setList('unread'));
    $('show-recent').addEventListener('click', () => setList('recent'));
    for (const kind of ['block', 'allow']) {
      $(kind + '-form').addEventListener('submit', async (e) => {
        e.preventDefault();
        const data = await api('GET', '/api/' + kind + 'list');
        data.entries.push({ entry: $(kind + '-entry').value.trim(), label: $(kind + '-label').value.trim() });
        await saveList('/api/' + kind + 'list', data.entries);
        $(kind + '-entry').value = '';
        $(kind + '-label').value = '';
      });
    }
    try {
      const session = await fetch('/api/session', { credentials: 'same-origin' });
      if (session.ok) {
        state.csrf = (await session.json()).csrf;
        await showApp();
        return;
      }
    } catch (e) { /* not signed in */ }
    showLogin();
  }

  document.addEventListener('DOMContentLoaded', start);
})();
