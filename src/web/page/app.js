// The page of every station: the overview, asked again every second and
// updated in place, with a summary of the stations that deserve a look;
// plots of the columns marked in it, from the server's spans (a bucket's
// lowest and highest reading when the range holds more lines than the plot
// has pixels); and the export of what the plot shows. A module: the parts
// that need no page are exported for the tests of tests/web.

// The desktop viewer's colours, in the same order within each plot.
const colores = ['#1f77b4', '#d62728', '#2ca02c', '#ff7f0e', '#9467bd',
                 '#8c564b', '#e377c2', '#7f7f7f', '#bcbd22', '#17becf'];
const refresco = 1000;     // ms between two overview requests
const caduca = 5000;       // ms without an answer before what the page shows is marked as old
const limiteResumen = 5000; // ms an overview request may take
const limiteTramo = 30000;  // ms a plot request may take
const seguimiento = 2000;  // ms between two plot requests while it follows the present
const pasoEntrada = 1.5;   // inputs stack in their strip, 0..1 each
const nombres = {
  MMMM: ['enero', 'febrero', 'marzo', 'abril', 'mayo', 'junio', 'julio', 'agosto', 'septiembre', 'octubre',
         'noviembre', 'diciembre'],
  MMM: ['ene', 'feb', 'mar', 'abr', 'may', 'jun', 'jul', 'ago', 'sep', 'oct', 'nov', 'dic'],
  WWWW: ['domingo', 'lunes', 'martes', 'miércoles', 'jueves', 'viernes', 'sábado'],
  WWW: ['dom', 'lun', 'mar', 'mié', 'jue', 'vie', 'sáb'],
};
const D = 86400, H = 3600;
const marcasX = [
  [D * 365, '{YYYY}', null, null, null, null, null, null, 1],
  [D * 28, '{MMM}', '\n{YYYY}', null, null, null, null, null, 1],
  [D, '{D} {MMM}', '\n{YYYY}', null, null, null, null, null, 1],
  [H, '{HH}:{mm}', '\n{D} {MMM} {YYYY}', null, '\n{D} {MMM}', null, null, null, 1],
  [60, '{HH}:{mm}', '\n{D} {MMM} {YYYY}', null, '\n{D} {MMM}', null, null, null, 1],
  [1, '{HH}:{mm}:{ss}', '\n{D} {MMM} {YYYY}', null, '\n{D} {MMM}', null, null, null, 1],
];

const $ = id => document.getElementById(id);
let series = new Map(); // serie -> the overview's row
let desfase = 0;        // the server's clock minus this one, ms
let estructura = '';    // the series the tables show, to rebuild them only when they change
// The last answer of the overview, by this browser's monotonic clock: what
// the page shows is as old as that answer, whatever the server's clock says.
const vigente = {
  lista: [],      // the series of the last answer that brought them
  ahora: 0,       // the server's time in that answer, ms
  en: null,       // performance.now() at that answer; null before the first
  ultima: null,   // performance.now() at the last answer, "not modified" included
  etiqueta: '',   // the overview's ETag, when the server gives one
  error: '',      // why the last request failed; empty when it did not
  usuario: '',
};
let filas = new Map();  // serie -> the cells of its row

// ---- texts

function numero(v) {
  return v == null ? '' : String(v).replace('.', ',');
}

const formatos = new Map();
function formato(zona) {
  if (!formatos.has(zona)) {
    const opciones = {year: 'numeric', month: '2-digit', day: '2-digit', hour: '2-digit', minute: '2-digit',
                      second: '2-digit', hourCycle: 'h23'};
    let f;
    try {
      f = new Intl.DateTimeFormat('es-ES', {...opciones, timeZone: zona || undefined});
    } catch (e) {
      f = new Intl.DateTimeFormat('es-ES', opciones);
    }
    formatos.set(zona, f);
  }
  return formatos.get(zona);
}

function partes(ms, zona) {
  const p = {};
  for (const x of formato(zona).formatToParts(new Date(ms)))
    p[x.type] = x.value;
  return p;
}

// As the capture file writes it: 07-12-2026 14:03:09, in the station's time.
function hora(ms, zona) {
  const p = partes(ms, zona);
  return `${p.day}-${p.month}-${p.year} ${p.hour}:${p.minute}:${p.second}`;
}

// The station's wall-clock time of `texto` (2026-12-07T14:03) as an instant.
function desdeZona(texto, zona) {
  const m = /^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d)(?::(\d\d))?/.exec(texto);
  if (!m)
    return NaN;
  const pared = Date.UTC(+m[1], m[2] - 1, +m[3], +m[4], +m[5], +(m[6] || 0));
  const desfaseEn = ms => {
    const p = partes(ms, zona);
    return Date.UTC(+p.year, p.month - 1, +p.day, +p.hour, +p.minute, +p.second) - ms;
  };
  const t = pared - desfaseEn(pared);
  return pared - desfaseEn(t);
}

function enZona(ms, zona) {
  const p = partes(ms, zona);
  return `${p.year}-${p.month}-${p.day}T${p.hour}:${p.minute}:${p.second}`;
}

function duracion(ms) {
  const s = Math.round(ms / 1000);
  if (s < 120) return `${s} s`;
  if (s < 7200) return `${Math.round(s / 60)} min`;
  if (s < 2 * 86400) return `${Math.round(s / 3600)} h`;
  return `${Math.round(s / 86400)} días`;
}

function iso(segundos) {
  return new Date(Math.round(segundos * 1000)).toISOString();
}

function el(tag, props = {}, ...hijos) {
  const e = document.createElement(tag);
  Object.assign(e, props);
  e.append(...hijos);
  return e;
}

// ---- requests

// What an answer brings: its JSON, or null when the server says the
// overview has not changed since the page last had it (304).
async function respuesta(r) {
  if (r.status === 304)
    return null;
  let datos = null;
  try {
    datos = await r.json();
  } catch (e) {
    if (e.name === 'TimeoutError' || e.name === 'AbortError')
      throw e;
  }
  if (!r.ok || datos == null || typeof datos !== 'object')
    throw new Error((datos && datos.error) || `respuesta ${r.status} del servidor`);
  return datos;
}

// Every request has a time limit: a stuck server shows as one, not as a
// page that waits for ever.
async function pide(url, limite, etiqueta = '') {
  try {
    const r = await fetch(url, {credentials: 'same-origin', cache: 'no-store', signal: AbortSignal.timeout(limite),
                                headers: etiqueta ? {'If-None-Match': etiqueta} : {}});
    if (r.status === 401) {
      location.href = '/entrar';
      throw new Error('Hace falta entrar de nuevo.');
    }
    return {datos: await respuesta(r), etiqueta: r.headers.get('ETag') || etiqueta};
  } catch (e) {
    if (e.name === 'TimeoutError' || e.name === 'AbortError')
      throw new Error(`el servidor no contestó en ${limite / 1000} s`);
    if (e instanceof TypeError)
      throw new Error('no se puede conectar con el servidor');
    throw e;
  }
}

// ---- the overview

// The mark of a series' latest reading, from the server's judgement of it
// (the marks' one rule): `aviso` says the row deserves a look, and counts
// in its station's "N avisos".
function marca(s, ahora) {
  if (s.hora == null)
    return {texto: 'Sin lecturas', clases: ['antigua'], aviso: true};
  const textos = [], clases = [];
  if (s.valor == null)
    clases.push('err');
  if (s.aviso === 'alto')
    textos.push(`Sobre el máximo (${numero(s.max)})`);
  else if (s.aviso === 'bajo')
    textos.push(`Bajo el mínimo (${numero(s.min)})`);
  else if (s.aviso === 'activa')
    textos.push('Entrada activa');
  if (s.aviso)
    clases.push('aviso');
  if (s.antigua) {
    textos.push(`Sin lecturas desde hace ${duracion(ahora - s.hora)}`);
    clases.push('antigua');
  }
  return {texto: textos.join(' · '), clases, aviso: clases.length > 0};
}

// What every row adds once the page has heard nothing for `caduca` ms:
// its value is the last answer's, not the present one.
function sinRespuesta(edad) {
  return edad > caduca ? `Sin respuesta desde hace ${duracion(edad)}` : '';
}

// The status line, from the age of the last answer by this browser's clock
// (`edad`, null before the first) and the server's time at that answer.
function estado({edad, error, ahora, zona, vacia}) {
  const ultima = () => `Última actualización: ${hora(ahora, zona)}; se vuelve a intentar.`;
  if (edad == null)
    return {texto: error ? `Sin respuesta: ${error}. Se vuelve a intentar.` : 'Cargando...', fallo: !!error};
  if (edad > caduca)
    return {texto: `Sin respuesta desde hace ${duracion(edad)}${error ? ` (${error})` : ''}. ${ultima()}`, fallo: true};
  if (error)
    return {texto: `Sin respuesta: ${error}. ${ultima()}`, fallo: true};
  return {texto: vacia ? 'Aún no hay lecturas archivadas.' : `Actualizado: ${hora(ahora, zona)}`, fallo: false};
}

function cuenta(n) {
  return n === 0 ? '' : n === 1 ? '1 aviso' : `${n} avisos`;
}

// Each station in the server's order: its rows that deserve a look and,
// when not one of its rows is current, how long since its newest reading.
function estaciones(lista, ahora) {
  const todas = new Map();
  for (const s of lista) {
    if (!todas.has(s.estacion))
      todas.set(s.estacion, {estacion: s.estacion, avisos: 0, ultima: null, viva: false});
    const e = todas.get(s.estacion);
    if (marca(s, ahora).aviso)
      e.avisos++;
    if (s.hora != null && !(e.ultima >= s.hora))
      e.ultima = s.hora;
    if (s.hora != null && !s.antigua)
      e.viva = true;
  }
  return [...todas.values()].map(e => ({estacion: e.estacion, avisos: e.avisos,
                                        parada: e.viva ? null : e.ultima == null ? Infinity : ahora - e.ultima}));
}

// The summary at the top: the stations that deserve a look, stopped ones
// first, so that none is missed below the fold.
function sumario(lista, ahora) {
  const todas = estaciones(lista, ahora);
  const malas = todas.map((e, i) => ({...e, i})).filter(e => e.avisos > 0)
    .sort((a, b) => (b.parada ?? -1) - (a.parada ?? -1) || a.i - b.i);
  const total = todas.length === 1 ? '1 estación' : `${todas.length} estaciones`;
  return {
    cabeza: malas.length === 0 ? `${total}, todas sin avisos.` : `${total}; con avisos:`,
    estaciones: malas.map(e => ({
      i: e.i,
      texto: `${nombreEstacion(e.estacion)}: ${cuenta(e.avisos)}` +
        (e.parada == null ? '' : e.parada === Infinity ? ', sin lecturas' : `, sin lecturas desde hace ${duracion(e.parada)}`),
      parada: e.parada != null,
    })),
  };
}

function nombreEstacion(e) {
  return e || '(sin nombre)';
}

// Stations, then their ports, in the order the server gives them.
function agrupa(lista) {
  const estaciones = new Map();
  for (const s of lista) {
    if (!estaciones.has(s.estacion))
      estaciones.set(s.estacion, new Map());
    const puertos = estaciones.get(s.estacion);
    if (!puertos.has(s.puerto))
      puertos.set(s.puerto, []);
    puertos.get(s.puerto).push(s);
  }
  return estaciones;
}

// Names reach the page as text nodes only: markup in a device's or a
// station's name is shown as written, never run.
function construye(lista) {
  const marcadas = new Set(claves());
  const raiz = $('resumen');
  raiz.replaceChildren();
  filas = new Map();
  let n = 0;
  for (const [estacion, puertos] of agrupa(lista)) {
    const art = el('article', {className: 'estacion', id: `estacion-${n++}`});
    art.dataset.estacion = estacion;
    art.append(el('h2', {}, el('span', {className: 'nombre'}, nombreEstacion(estacion)), el('span', {className: 'cuenta'})));
    for (const [puerto, grupo] of puertos) {
      const tabla = el('table', {className: 'puerto'});
      tabla.dataset.puerto = puerto;
      tabla.append(el('caption', {}, `Puerto ${puerto}`));
      const cabecera = el('tr');
      for (const t of ['', 'Columna', 'Valor', 'Unidad', 'Hora', 'Aviso'])
        cabecera.append(el('th', {}, t));
      tabla.append(el('thead', {}, cabecera));
      const cuerpo = el('tbody');
      for (const s of grupo) {
        const casilla = el('input', {type: 'checkbox', checked: marcadas.has(s.serie), title: 'Dibujar'});
        casilla.setAttribute('aria-label', `Dibujar ${s.columna}`);
        const celdas = {valor: el('td', {className: 'valor'}), unidad: el('td', {className: 'unidad'}),
                        dia: el('span', {className: 'dia'}), reloj: el('span'), marca: el('td', {className: 'marca'})};
        const fila = el('tr', {},
          el('td', {}, casilla), el('td', {className: 'columna', title: s.columna}, s.columna), celdas.valor,
          celdas.unidad, el('td', {className: 'hora'}, celdas.dia, celdas.reloj), celdas.marca);
        fila.dataset.serie = s.serie;
        filas.set(s.serie, {fila, ...celdas});
        cuerpo.append(fila);
      }
      tabla.append(cuerpo);
      art.append(tabla);
    }
    raiz.append(art);
  }
}

function actualiza(lista, ahora, edad) {
  const viejo = sinRespuesta(edad);
  for (const s of lista) {
    const c = filas.get(s.serie);
    if (!c)
      continue;
    const m = marca(s, ahora);
    c.fila.className = [...m.clases, ...(viejo ? ['sinrespuesta'] : [])].join(' ');
    c.valor.textContent = s.hora == null ? '' : s.valor == null ? 'ERR' : numero(s.valor);
    c.unidad.textContent = s.unidad;
    const h = s.hora == null ? '' : hora(s.hora, s.zona);
    c.dia.textContent = h.slice(0, 11);
    c.reloj.textContent = h.slice(11);
    c.marca.textContent = [m.texto, viejo].filter(Boolean).join(' · ');
  }
  const porNombre = new Map(estaciones(lista, ahora).map(e => [e.estacion, e.avisos]));
  for (const art of document.querySelectorAll('article.estacion'))
    art.querySelector('.cuenta').textContent = cuenta(porNombre.get(art.dataset.estacion) || 0);
  const r = sumario(lista, ahora);
  $('sumario').replaceChildren(el('span', {}, r.cabeza), ...r.estaciones.map(e =>
    el('a', {href: `#estacion-${e.i}`, className: e.parada ? 'parada' : 'aviso'}, e.texto)));
}

// The page as of now: the last answer's values, aged by this browser's
// clock; run after every request and every second between them, so a
// request that never ends still shows.
function pinta() {
  const v = vigente, ya = performance.now();
  const edad = v.ultima == null ? null : ya - v.ultima;
  if (v.en != null)
    actualiza(v.lista, v.ahora + (ya - v.en), edad);
  // The server's time at its last answer ("not modified" ones included).
  const ultima = v.en == null ? 0 : v.ahora + (v.ultima - v.en);
  const e = estado({edad, error: v.error, ahora: ultima, zona: (v.lista[0] || {}).zona, vacia: v.lista.length === 0});
  $('estado').textContent = e.texto;
  $('estado').classList.toggle('fallo', e.fallo);
  $('salir').hidden = !v.usuario;
  $('usuario').textContent = v.usuario;
}

async function refresca() {
  try {
    const {datos, etiqueta} = await pide('/api/resumen', limiteResumen, vigente.etiqueta);
    vigente.ultima = performance.now();
    vigente.etiqueta = etiqueta;
    vigente.error = '';
    if (datos) {
      desfase = datos.ahora - Date.now();
      Object.assign(vigente, {lista: datos.series, ahora: datos.ahora, en: vigente.ultima, usuario: datos.usuario || ''});
      series = new Map(datos.series.map(s => [s.serie, s]));
      const forma = datos.series.map(s => `${s.serie}:${s.estacion}:${s.puerto}`).join(',');
      if (forma !== estructura) {
        construye(datos.series);
        estructura = forma;
      }
    }
  } catch (e) {
    vigente.error = e.message;
  }
  pinta();
  setTimeout(refresca, refresco);
}

function claves() {
  return [...document.querySelectorAll('#resumen tr[data-serie] input:checked')]
    .map(c => +c.closest('tr').dataset.serie);
}

// ---- plots

const grafica = {
  claves: [],
  desde: 0, hasta: 0,  // the range asked for, s
  relativo: 0,         // its length when it ends now; 0 for a fixed range
  siguiendo: false,    // moved along with the present
  vista: null,         // {min, max}: what the plots show, s
  zona: '',
  graficos: [],        // {u, claves, entradas}
  pedida: 0,           // number of the latest plot request
  enCurso: false,      // a plot request is on its way
  pendiente: false,    // and another view waits for it
  espera: null,
};

function clase(s) {
  if (s.tipo === 'DET' || s.tipo === 'CTR' || (!s.unidad && / - [12]$/.test(s.columna)))
    return {clave: 'entradas', titulo: 'Entradas'};
  if (s.tipo === 'AVI' || / - [a-d] \(/.test(s.columna))
    return {clave: `canal:${s.unidad}`, titulo: s.unidad ? `Canales (${s.unidad})` : 'Canales (sin unidad)'};
  if (s.unidad === 'ºC')
    return {clave: 'temperatura', titulo: 'Temperatura (ºC)'};
  if (s.unidad === '%')
    return {clave: 'humedad', titulo: 'Humedad (%)'};
  return {clave: `canal:${s.unidad}`, titulo: s.unidad ? `Canales (${s.unidad})` : 'Canales (sin unidad)'};
}

// As the desktop viewer: temperatures, humidities, channels by unit, inputs.
function grupos(lista) {
  const orden = k => k === 'temperatura' ? 0 : k === 'humedad' ? 1 : k === 'entradas' ? 3 : 2;
  const porClave = new Map();
  for (const s of lista) {
    const c = clase(s);
    if (!porClave.has(c.clave))
      porClave.set(c.clave, {...c, series: []});
    porClave.get(c.clave).series.push(s);
  }
  return [...porClave.values()].sort((a, b) => orden(a.clave) - orden(b.clave));
}

function etiqueta(s, varios) {
  return varios ? `${s.estacion} - puerto ${s.puerto} - ${s.columna}` : s.columna;
}

function ancho() {
  return Math.max(300, $('lienzos').clientWidth - 10);
}

function creaGraficos(lista) {
  for (const g of grafica.graficos)
    g.u.destroy();
  grafica.graficos = [];
  $('lienzos').replaceChildren();
  const varios = new Set(lista.map(s => `${s.estacion}\u0000${s.puerto}`)).size > 1;
  // One width for every plot's value axis, so their time axes line up.
  const deEntrada = lista.filter(s => clase(s).clave === 'entradas');
  const ejeY = Math.max(60, ...deEntrada.map(s => 12 + 7 * etiqueta(s, varios).length));
  for (const g of grupos(lista)) {
    const entradas = g.clave === 'entradas';
    const caja = el('div', {className: 'grupo'}, el('h3', {}, g.titulo));
    $('lienzos').append(caja);
    const opciones = {
      width: ancho(),
      height: entradas ? 70 + 28 * g.series.length : 260,
      tzDate: ts => uPlot.tzDate(new Date(ts * 1000), grafica.zona),
      fmtDate: plantilla => uPlot.fmtDate(plantilla, nombres),
      cursor: {drag: {x: false, y: false, setScale: false}, bind: {dblclick: () => null}},
      scales: {x: {time: true}, y: entradas ? {range: [-0.3, g.series.length * pasoEntrada - 0.2]} : {}},
      axes: [
        {values: marcasX},
        entradas ? {
          size: ejeY,
          splits: () => g.series.map((s, k) => k * pasoEntrada + 0.5),
          values: () => g.series.map(s => etiqueta(s, varios)),
        } : {size: ejeY, values: (u, v) => v.map(numero)},
      ],
      series: [
        {label: 'Hora', value: '{DD}-{MM}-{YYYY} {HH}:{mm}:{ss}'},
        ...g.series.map((s, k) => ({
          label: etiqueta(s, varios),
          stroke: colores[k % colores.length],
          width: 1,
          paths: entradas ? uPlot.paths.stepped({align: 1}) : undefined,
          value: (u, v) => v == null ? '-' : numero(entradas ? Math.round((v - k * pasoEntrada) * 1000) / 1000 : v),
        })),
      ],
    };
    const u = new uPlot(opciones, [[], ...g.series.map(() => [])], caja);
    u.root.dataset.grupo = g.clave;
    raton(u);
    grafica.graficos.push({u, claves: g.series.map(s => s.serie), entradas});
  }
}

// Wheel: zoom about the pointer; drag: move; double click: the whole range.
function raton(u) {
  u.over.addEventListener('wheel', e => {
    e.preventDefault();
    const {min, max} = u.scales.x;
    const en = u.posToVal(e.offsetX, 'x');
    // A notch of the wheel (100) zooms by a quarter.
    const f = Math.pow(0.75, -Math.max(-1000, Math.min(1000, e.deltaY)) / 100);
    ponVista(en - (en - min) * f, en + (max - en) * f);
  }, {passive: false});
  u.over.addEventListener('mousedown', e => {
    if (e.button !== 0)
      return;
    e.preventDefault();
    const x0 = e.clientX, {min, max} = u.scales.x;
    const porPixel = (max - min) / u.over.clientWidth;
    const mueve = m => {
      const dt = (m.clientX - x0) * porPixel;
      ponVista(min - dt, max - dt);
    };
    const suelta = () => {
      document.removeEventListener('mousemove', mueve);
      document.removeEventListener('mouseup', suelta);
    };
    document.addEventListener('mousemove', mueve);
    document.addEventListener('mouseup', suelta);
  });
  u.over.addEventListener('dblclick', () => {
    grafica.siguiendo = grafica.relativo > 0;
    if (grafica.siguiendo)
      sigueAhora();
    else
      ponVista(grafica.desde, grafica.hasta);
  });
}

// Every plot shows the same time; the readings of the new view are asked
// for once the mouse rests.
function ponVista(min, max, pedir = true) {
  const corta = 10;
  if (max - min < corta) {
    const medio = (min + max) / 2;
    min = medio - corta / 2;
    max = medio + corta / 2;
  }
  if (pedir)
    grafica.siguiendo = false;
  grafica.vista = {min, max};
  for (const g of grafica.graficos)
    g.u.setScale('x', {min, max});
  enlaceCsv();
  if (pedir) {
    clearTimeout(grafica.espera);
    grafica.espera = setTimeout(() => carga(), 250);
  }
}

// The points of one series: a line per row, or a bucket's lowest and
// highest reading one after the other; a null where the readings stop for
// longer than a bucket or than a few of their own intervals (a gap), and
// the gaps themselves, from the reading before to the reading after.
function puntos(sr, cubo, desplaza) {
  const xs = [], ys = [], huecos = [];
  const t = sr.t;
  const pasos = [];
  for (let i = 1; i < t.length && pasos.length < 2000; i++)
    pasos.push(t[i] - t[i - 1]);
  pasos.sort((a, b) => a - b);
  const paso = pasos.length ? pasos[pasos.length >> 1] : 0;
  const hueco = Math.max(2 * cubo, 5 * paso);
  for (let i = 0; i < t.length; i++) {
    if (i > 0 && t[i] - t[i - 1] > hueco) {
      xs.push((t[i] + t[i - 1]) / 2);
      ys.push(null);
      huecos.push([t[i - 1], t[i]]);
    }
    const lo = sr.min[i], hi = sr.max[i];
    xs.push(t[i]);
    ys.push(lo == null ? null : lo + desplaza);
    if (lo != null && hi != null && hi !== lo) {
      xs.push(t[i] + cubo / 2);
      ys.push(hi + desplaza);
    }
  }
  return [xs, ys, huecos];
}

// Several series on one time axis (stations write at their own times).
// At another series' time a line goes on through (undefined), but inside
// one of its gaps it stays broken (null): a stop drawn beside another
// station's column is still a stop, not a ramp.
function junta(tablas) {
  if (tablas.length === 1)
    return [tablas[0][0], tablas[0][1]];
  const xs = [...new Set(tablas.flatMap(t => t[0]))].sort((a, b) => a - b);
  const indice = new Map(xs.map((x, i) => [x, i]));
  const columnas = tablas.map(([txs, tys, huecos]) => {
    const ys = new Array(xs.length).fill(undefined);
    for (const [a, b] of huecos) {
      let i = indice.get(a) + 1;
      for (; i < xs.length && xs[i] < b; i++)
        ys[i] = null;
    }
    for (let i = 0; i < txs.length; i++)
      ys[indice.get(txs[i])] = tys[i];
    return ys;
  });
  return [xs, ...columnas];
}

// One plot request at a time: a view asked for while one is on its way is
// asked for when it arrives, so a slow answer is never thrown away for a
// newer one that will be just as slow.
async function carga() {
  if (!grafica.vista || grafica.claves.length === 0)
    return;
  if (grafica.enCurso) {
    grafica.pendiente = true;
    return;
  }
  grafica.enCurso = true;
  const turno = ++grafica.pedida;
  const pedidas = grafica.claves, graficos = grafica.graficos;
  const {min, max} = grafica.vista;
  const q = new URLSearchParams({series: pedidas.join(','), desde: iso(Math.floor(min)),
                                 hasta: iso(Math.ceil(max) + 1), cubos: String(Math.min(4000, ancho()))});
  try {
    const {datos} = await pide(`/api/tramo?${q}`, limiteTramo);
    // The plots were drawn again for other columns meanwhile.
    if (graficos !== grafica.graficos)
      return;
    $('mensaje').textContent = '';
    const porSerie = new Map(datos.series.map(s => [s.serie, s]));
    for (const g of graficos) {
      const tablas = g.claves.map((k, i) => puntos(porSerie.get(k), datos.cubo, g.entradas ? i * pasoEntrada : 0));
      const datosU = junta(tablas);
      g.u.batch(() => {
        g.u.setData(datosU);
        g.u.setScale('x', grafica.vista);
      });
    }
    $('lienzos').dataset.cargada = String(turno);
  } catch (e) {
    $('mensaje').textContent = e.message;
  } finally {
    grafica.enCurso = false;
    if (grafica.pendiente) {
      grafica.pendiente = false;
      carga();
    }
  }
}

function enlaceCsv() {
  const a = $('csv');
  if (!grafica.vista) {
    $('exportar').hidden = true;
    return;
  }
  $('exportar').hidden = false;
  const q = new URLSearchParams({series: grafica.claves.join(','), desde: iso(Math.floor(grafica.vista.min)),
                                 hasta: iso(Math.floor(grafica.vista.max) + 1),
                                 codificacion: $('codificacion').value, decimal: $('decimal').value});
  a.href = `/api/csv?${q}`;
}

function sigueAhora() {
  const hasta = (Date.now() + desfase) / 1000;
  grafica.desde = hasta - grafica.relativo;
  grafica.hasta = hasta;
  ponVista(grafica.desde, grafica.hasta, false);
  carga();
}

function dibuja() {
  const lista = claves().map(k => series.get(k)).filter(Boolean);
  if (lista.length === 0) {
    $('mensaje').textContent = 'Marque en las tablas las columnas que quiere dibujar.';
    return;
  }
  grafica.claves = lista.map(s => s.serie);
  grafica.zona = lista[0].zona;
  grafica.relativo = +$('intervalo').value || 0;
  if (grafica.relativo === 0) {
    const desde = desdeZona($('desde').value, grafica.zona), hasta = desdeZona($('hasta').value, grafica.zona);
    if (!(desde < hasta)) {
      $('mensaje').textContent = 'Escriba un intervalo: «Desde» anterior a «Hasta».';
      return;
    }
    grafica.desde = desde / 1000;
    grafica.hasta = hasta / 1000;
  }
  creaGraficos(lista);
  grafica.siguiendo = grafica.relativo > 0;
  if (grafica.siguiendo) {
    sigueAhora();
  } else {
    ponVista(grafica.desde, grafica.hasta, false);
    carga();
  }
}

function inicia() {
  window.climalog = {grafica};
  $('dibujar').addEventListener('click', dibuja);
  $('intervalo').addEventListener('change', () => {
    const otro = $('intervalo').value === '';
    $('otro').hidden = !otro;
    if (otro && !$('desde').value) {
      const zona = (series.values().next().value || {}).zona;
      const ahora = Date.now() + desfase;
      $('desde').value = enZona(ahora - 86400000, zona);
      $('hasta').value = enZona(ahora, zona);
    }
  });
  $('codificacion').addEventListener('change', enlaceCsv);
  $('decimal').addEventListener('change', enlaceCsv);
  window.addEventListener('resize', () => {
    for (const g of grafica.graficos)
      g.u.setSize({width: ancho(), height: g.u.height});
  });
  setInterval(() => {
    if (grafica.siguiendo && !grafica.enCurso)
      sigueAhora();
  }, seguimiento);
  setInterval(pinta, 1000);
  refresca();
}

export {numero, hora, desdeZona, enZona, duracion, marca, sinRespuesta, estado, cuenta, estaciones, sumario, puntos,
        junta, respuesta, caduca};

if (typeof document !== 'undefined')
  inicia();
