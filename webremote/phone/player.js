// The live page: the form's buttons send their commands by fetch, without a page load, and
// the state is asked for once a second while the page is shown.
(function () {
    const form = document.getElementById('f');
    const bar = document.getElementById('bar');
    const art = document.getElementById('art');

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

    function show(state) {
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
        const loop = document.getElementById('loop'); // not on a guest's page
        if (loop)
            loop.setAttribute('aria-pressed', state.loop ? 'true' : 'false');
        if (art.dataset.v !== state.art) {
            art.dataset.v = state.art;
            if (state.art)
                art.src = '/m/art?v=' + state.art;
            else
                art.removeAttribute('src');
        }
        put('loop', state.loop ? 'ループ再生: オン' : 'ループ再生: オフ');
        form.querySelectorAll('li button').forEach(function (button) {
            if (button.value === 'e' + state.current)
                button.setAttribute('aria-current', 'true');
            else
                button.removeAttribute('aria-current');
        });
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
        const body = new URLSearchParams();
        body.append('c', command);
        body.append('js', '1');
        body.append('t', form.elements.t.value);
        load(fetch('/m/cmd', {method: 'POST', body: body, cache: 'no-store'}));
    }

    form.addEventListener('submit', function (event) {
        const button = event.submitter;
        if (!button || !button.value)
            return;
        event.preventDefault();
        send(button.value);
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
