// Plays one movie in Ruffle across the whole page and obeys the preview's buttons.
// Query: ?movie=<address of the first part>[&bg=RRGGBB]
// State for the program: window.quillon = { loaded, error }, window.quillonPanic() gives the
// text of Ruffle's error screen when it shows one, window.quillonCall(name) runs one of
// "play", "stop", "back", "forward", "rewind".
'use strict';

// Ruffle names its menu items in the browser's language; the buttons find them by their English
// names, so the player is told that the page is English.
for (const key of ['language', 'languages']) {
  Object.defineProperty(navigator, key, {
    get: () => (key === 'language' ? 'en-US' : ['en-US']),
  });
}

window.quillon = { loaded: false, error: null, pending: [] };

window.quillonPanic = () => {
  const player = document.getElementById('player');
  const panic = player && player.shadowRoot && player.shadowRoot.getElementById('panic');
  return panic && panic.offsetParent !== null ? panic.innerText.trim() || 'panic' : null;
};

// Ruffle's script interface can only suspend and resume the whole player; stopping the movie on
// its frame, stepping and rewinding are reached through the player's own menu, the one a user
// opens with the right mouse button, whose items act on the main movie exactly as those buttons
// of the Flash player did.
function withMenu(action) {
  const player = document.getElementById('player');
  const shadow = player && player.shadowRoot;
  if (!shadow) return false;
  // On a software renderer Ruffle opens a hardware acceleration notice at the first mouse-over,
  // and the menu does not open while any notice shows.
  const notice = shadow.getElementById('hardware-acceleration-modal');
  if (notice) notice.classList.add('hidden');
  player.dispatchEvent(new MouseEvent('contextmenu', {
    bubbles: true, cancelable: true, composed: true, button: 2, clientX: 1, clientY: 1,
  }));
  const items = Array.from(shadow.querySelectorAll('#context-menu li.menu-item'));
  const item = (text) => items.find((li) => li.dataset.text === text) || null;
  const done = action(item);
  // A chosen item closes the menu itself once its action has run; closing it earlier through
  // the player cancels the action. A menu left open with nothing chosen is only hidden.
  if (!done) {
    const overlay = shadow.getElementById('context-menu-overlay');
    if (overlay) overlay.classList.add('hidden');
  }
  return done;
}

function choose(text) {
  return withMenu((item) => {
    const li = item(text);
    if (!li || li.classList.contains('disabled')) return false;
    li.click();
    return true;
  });
}

// A click on Play takes effect when the player next runs, so for a moment its item still shows
// the old state; a second call in that moment (a stop and then a rewind, sent together) would
// click it again and set the movie going. The state last clicked counts until the item shows it
// or half a second has passed.
let clicked = { playing: null, at: 0 };
function isPlaying(li) {
  const shown = li.classList.contains('checked');
  if (clicked.playing === null || shown === clicked.playing ||
      performance.now() - clicked.at > 500) {
    clicked.playing = null;
    return shown;
  }
  return clicked.playing;
}

// True when the movie can play at all (a movie of one frame has no Play item).
function setPlaying(playing) {
  let playable = false;
  withMenu((item) => {
    const li = item('Play');
    playable = li !== null;
    if (!li || isPlaying(li) === playing) return false;
    li.click();
    clicked = { playing, at: performance.now() };
    return true;
  });
  return playable;
}

// Right after a movie arrives its Play item can still read "not playing" for a moment before
// the movie starts on its own, so a stop made then would not hold. After every call that leaves
// the movie stopped, the menu is looked at again for a while and the movie stopped once more if
// it has started after all; Play ends that watch.
// A rewind is made again whenever the movie is off its first frame (the player offers Rewind
// only then): a stop that lands a frame or two late must not leave it there. A stop or a step
// only stops it.
// On a busy machine the movie can take seconds to start after a call made while it loads, so
// only looks at a movie whose own items are there count towards the end of the watch (a movie
// of one frame never has them: its watch ends after a minute).
let holdStopped = null;
function keepStopped(again) {
  clearInterval(holdStopped);
  let looks = 0;
  let idle = 0;
  holdStopped = setInterval(() => {
    let wasPlaying = false;
    let running = false;
    let offTarget = false;
    withMenu((item) => {
      const li = item('Play');
      running = li !== null;
      wasPlaying = running && isPlaying(li);
      const target = again ? item(again) : null;
      offTarget = target !== null && !target.classList.contains('disabled');
      return false;
    });
    if ((running ? ++looks : ++idle) > (running ? 30 : 600)) clearInterval(holdStopped);
    if (wasPlaying) setPlaying(false);
    if (again && (wasPlaying || offTarget)) choose(again);
  }, 100);
}

function stopped(action, again) {
  return () => {
    const playable = action();
    keepStopped(again);
    return playable;
  };
}

const calls = {
  play: () => {
    clearInterval(holdStopped);
    return setPlaying(true);
  },
  stop: stopped(() => setPlaying(false)),
  // Each step leaves the movie stopped, also where the player has no step to take.
  back: stopped(() => setPlaying(false) && choose('Back')),
  forward: stopped(() => setPlaying(false) && choose('Forward')),
  rewind: stopped(() => setPlaying(false) && choose('Rewind'), 'Rewind'),
};

// The movie's own items join the menu only once the movie runs, a little after Ruffle has read
// it; calls made before then wait for them (a movie of one frame never has them: after a few
// seconds its calls are let go).
function movieItemsReady() {
  let ready = false;
  withMenu((item) => {
    // Autoplay: the movie counts as arrived once it plays, so that a stop is not undone by
    // the movie starting a moment later.
    const li = item('Play');
    ready = li !== null && li.classList.contains('checked');
    return false;
  });
  return ready;
}

// Once the movie has arrived, calls run at once: a movie the user has stopped reads as not
// playing, and must not hold the next button press back.
let arrived = false;
let waits = 0;
let waiting = null;
function runPending() {
  const quillon = window.quillon;
  if (!quillon.loaded || quillon.pending.length === 0 || waiting) return;
  if (!arrived && !movieItemsReady() && ++waits < 100) {
    waiting = setTimeout(() => {
      waiting = null;
      runPending();
    }, 50);
    return;
  }
  if (!arrived) {
    // A movie stopped before the player has drawn its first frame shows nothing at all; the
    // player draws on the display's next frames, so the calls wait for two of them.
    arrived = true;
    waiting = true;
    requestAnimationFrame(() => requestAnimationFrame(() => {
      waiting = null;
      runPending();
    }));
    return;
  }
  const pending = quillon.pending;
  quillon.pending = [];
  for (const name of pending) calls[name]();
}

window.quillonCall = (name) => {
  if (!calls[name]) return false;
  window.quillon.pending.push(name);
  runPending();
  return true;
};

window.addEventListener('DOMContentLoaded', () => {
  const query = new URLSearchParams(location.search);
  const movie = new URL(query.get('movie') || '', location.href);
  const bg = /^[0-9a-fA-F]{6}$/.test(query.get('bg') || '') ? `#${query.get('bg')}` : null;
  if (bg) document.body.style.background = bg;

  const ruffle = window.RufflePlayer.newest();
  const player = ruffle.createPlayer();
  player.id = 'player';
  document.body.appendChild(player);
  player.addEventListener('loadedmetadata', () => {
    window.quillon.loaded = true;
    runPending();
  });
  player.addEventListener('loadederror', (e) => {
    window.quillon.error = String((e && e.detail) || 'load error');
  });
  player.ruffle().load({
    url: movie.href,
    // Later parts are named relative to the first one.
    base: new URL('.', movie).href,
    autoplay: 'on',
    splashScreen: false,
    unmuteOverlay: 'hidden',
    letterbox: 'off',
    contextMenu: 'on',
    warnOnUnsupportedContent: false,
    logLevel: 'error',
    openUrlMode: 'allow',
    allowNetworking: 'all',
    backgroundColor: bg,
    scale: 'showAll',
    // Web views without a graphics card draw nothing through WebGL.
    preferredRenderer: 'canvas',
  }).catch((e) => {
    window.quillon.error = String((e && e.message) || e);
  });
});
