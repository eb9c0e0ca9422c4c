// The plots of the columns marked in the overview, one per kind of column
// on one time axis, moved and zoomed together with the mouse; and the
// export of what they show. This module owns the plots' state, shown to
// the page's tests as window.climalog.grafica.
import {$, el} from './dom.js';
import {desdeZona, iso, nombres, numero} from './formatos.js';
import {pide} from './peticiones.js';
import {clase, colores, etiqueta, grupos, junta, marcasX, pasoEntrada, puntos} from './series.js';

const limiteTramo = 30000;  // ms a plot request may take
const seguimiento = 2000;  // ms between two plot requests while it follows the present

export const grafica = {
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
let reloj = Date.now;  // the server's time now, ms

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
  const hasta = reloj() / 1000;
  grafica.desde = hasta - grafica.relativo;
  grafica.hasta = hasta;
  ponVista(grafica.desde, grafica.hasta, false);
  carga();
}

// Draws the overview's rows in `lista` over the range the form asks for.
export function dibuja(lista) {
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

// The export's choices, the window's width and the present followed;
// `ahora` gives the server's time now, ms.
export function inicia(ahora) {
  reloj = ahora;
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
}
