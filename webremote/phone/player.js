// The live page: the buttons send their commands by fetch, without a page load; the state is
// asked for once a second while the page is shown; the list is fetched anew when the playlist
// changed, when the search box is typed in, and for "今の曲へ".
(function () {
    const main = document.querySelector('main');
    const controls = document.getElementById('f');
    const bar = document.getElementById('bar');
    const field = document.getElementById('q');
    const art = document.getElementById('art');
    let asked = 0;

    function clock(seconds) {
        const minutes = Math.floor(seconds / 60);
        seconds %= 60;
        return minutes + ':' + (seconds < 10 ? '0' : '') + seconds;
    }

    // Texts are written only when they change, not once a second for nothing.
    function put(id, text) {
        const element = document.getElementById(id);
        if (element && element.textContent !== text)
            element.textContent = text;
    }

    function pressed(id, on) {
        const element = document.getElementById(id);
        if (element)
            element.setAttribute('aria-pressed', on ? 'true' : 'false');
    }

    function list() {
        return document.getElementById('list');
    }

    // The list's address: its page and its search, as its own form holds them.
    function listAddress(page, query) {
        return '/m/?page=' + page + (query ? '&q=' + encodeURIComponent(query) : '');
    }

    // The list of the page at address takes the place of the one shown; only the answer to
    // the last request counts.
    function loadList(address, then) {
        const mine = ++asked;
        fetch(address, {cache: 'no-store'})
            .then(function (response) {
                return response.ok ? response.text() : null;
            })
            .then(function (html) {
                if (mine !== asked || html === null)
                    return;
                const fresh = new DOMParser().parseFromString(html, 'text/html')
                    .getElementById('list');
                if (!fresh) {
                    location.reload(); // no session any more: the login page
                    return;
                }
                list().replaceWith(fresh);
                if (then)
                    then();
            })
            .catch(function () {});
    }

    function show(state) {
        if (state.note)
            put('note', state.note);
        put('state', state.state);
        put('title', state.title);
        put('artist', state.artist);
        put('pos', clock(state.pos));
        put('len', clock(state.len));
        const filled = state.len > 0 ? Math.min(100, state.pos * 100 / state.len) : 0;
        document.getElementById('fill').style.width = filled + '%';
        bar.setAttribute('aria-valuenow', state.pos);
        bar.setAttribute('aria-valuemax', state.len);
        put('pp', state.status === 'playing' ? '一時停止' : '再生');
        if (state.volume >= 0)
            put('vol', state.volume + '%');
        document.getElementById('to-now').hidden = state.current < 0;
        pressed('mute', state.muted); // neither is on a guest's page
        pressed('loop', state.loop);
        if (art.dataset.v !== state.art) {
            art.dataset.v = state.art;
            if (state.art)
                art.src = '/m/art?v=' + state.art;
            else
                art.removeAttribute('src');
        }
        put('loop', state.loop ? 'ループ再生: オン' : 'ループ再生: オフ');
        list().querySelectorAll('li button').forEach(function (button) {
            if (button.value.split('.')[0] === 'e' + state.current)
                button.setAttribute('aria-current', 'true');
            else
                button.removeAttribute('aria-current');
        });
        const shown = list();
        if (String(state.rev) !== shown.dataset.rev) {
            const form = shown.querySelector('form');
            loadList(listAddress(form.elements.page.value, form.elements.q.value));
        }
    }

    // Without a session the state is refused; the reload then shows the login page.
    function load(request) {
        request
            .then(function (response) {
                if (!response.ok) {
                    location.reload();
                    return null;
                }
                return response.json();
            })
            .then(function (state) {
                if (state)
                    show(state);
            })
            .catch(function () {});
    }

    function send(command) {
        put('note', '');
        const body = new URLSearchParams();
        body.append('c', command);
        body.append('js', '1');
        body.append('t', controls.elements.t.value);
        load(fetch('/m/cmd', {method: 'POST', body: body, cache: 'no-store'}));
    }

    function search() {
        const query = field.value.trim();
        const address = listAddress(0, query);
        loadList(address, function () {
            history.replaceState(null, '', address);
        });
    }

    main.addEventListener('submit', function (event) {
        event.preventDefault();
        if (event.target.id === 's') {
            search();
            return;
        }
        const button = event.submitter;
        if (button && button.value)
            send(button.value);
    });

    let typing = 0;
    field.addEventListener('input', function () {
        clearTimeout(typing);
        typing = setTimeout(search, 250);
    });

    main.addEventListener('click', function (event) {
        if (!event.target.closest('#to-now'))
            return;
        event.preventDefault();
        field.value = '';
        loadList('/m/', function () {
            history.replaceState(null, '', '/m/');
            const now = document.getElementById('now');
            (now || list()).scrollIntoView();
        });
    });

    // A tap on the bar seeks to where it lands, in thousandths of the track.
    bar.addEventListener('click', function (event) {
        if (!bar.querySelector('button'))
            return; // a guest's bar only shows the time
        event.preventDefault();
        const box = bar.getBoundingClientRect();
        const x = (event.clientX - box.left) / box.width;
        send('s' + Math.round(Math.max(0, Math.min(1, x)) * 1000));
    });

    // A track that ended while its picture was asked for has none to give: nothing is shown.
    art.addEventListener('error', function () {
        art.removeAttribute('src');
    });

    setInterval(function () {
        if (!document.hidden)
            load(fetch('/m/state', {cache: 'no-store'}));
    }, 1000);
})();
