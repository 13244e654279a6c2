// Plays one movie in Ruffle in an element of the movie's own size and reports its state on
// window.quillon:
//   loaded     true once Ruffle has read the movie's header
//   error      the load error text, or null
//   linkUrl    the last URL the link frame loaded, or null
// and window.quillonPanic() gives the text of Ruffle's error screen when it shows one.
// Query: ?movie=<file>&width=<px>&height=<px>[&fps=<forced frame rate>]
'use strict';
window.quillon = { loaded: false, error: null, linkUrl: null, metadata: null };

window.quillonPanic = () => {
  const player = document.getElementById('player');
  const panic = player && player.shadowRoot && player.shadowRoot.getElementById('panic');
  return panic && panic.offsetParent !== null ? panic.innerText.trim() || 'panic' : null;
};

window.addEventListener('DOMContentLoaded', () => {
  const query = new URLSearchParams(location.search);
  const frame = document.getElementById('linkframe');
  frame.addEventListener('load', () => {
    try {
      const href = frame.contentWindow.location.href;
      if (href !== 'about:blank') window.quillon.linkUrl = href;
    } catch (e) {
      window.quillon.linkUrl = 'cross-origin';
    }
  });

  const ruffle = window.RufflePlayer.newest();
  const player = ruffle.createPlayer();
  player.id = 'player';
  player.style.width = `${Number(query.get('width'))}px`;
  player.style.height = `${Number(query.get('height'))}px`;
  player.style.display = 'block';
  // On a software renderer (this headless browser) the player opens a "turn on hardware
  // acceleration" dialog at the first mouseover, and the dialog then takes every click meant
  // for the movie's buttons.
  const quiet = document.createElement('style');
  quiet.textContent = '#hardware-acceleration-modal { display: none !important; }';
  player.shadowRoot.appendChild(quiet);
  document.getElementById('stage').appendChild(player);
  player.addEventListener('loadedmetadata', () => {
    window.quillon.metadata = player.metadata ? { ...player.metadata } : {};
    window.quillon.loaded = true;
  });
  player.addEventListener('loadederror', (e) => {
    window.quillon.error = String((e && e.detail) || 'load error');
  });

  const config = {
    url: query.get('movie'),
    autoplay: 'on',
    splashScreen: false,
    unmuteOverlay: 'hidden',
    contextMenu: 'off',
    warnOnUnsupportedContent: false,
    logLevel: 'error',
    openUrlMode: 'allow',
    allowNetworking: 'all',
    backgroundColor: null,
    // Scale and alignment stay Ruffle's defaults, as on any page that embeds a movie: the
    // stage is fitted to the element, so a stage that is not exactly the video's size shows
    // as a resampled, shifted picture.
  };
  if (query.get('fps')) config.frameRate = Number(query.get('fps'));
  player.ruffle().load(config).catch((e) => {
    window.quillon.error = String((e && e.message) || e);
  });
});
