// The overview: asked again every second and updated in place, its rows
// grouped by station and port. This module owns what the last answer
// brought; the plots ask it for the marked series and the server's time.
import {$, el} from './dom.js';
import {hora, numero} from './formatos.js';
import {cuenta, estaciones, estado, marca, nombreEstacion, sinRespuesta, sumario} from './marcas.js';
import {pide} from './peticiones.js';

const refresco = 1000;     // ms between two overview requests
const limiteResumen = 5000; // ms an overview request may take

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

// The server's time now, ms, by this browser's clock and the last answer.
export function ahoraServidor() {
  return Date.now() + desfase;
}

// The time zone of the first station, for a form's first range.
export function primeraZona() {
  return (series.values().next().value || {}).zona;
}

// Each station of the overview and its time zone, in the server's order.
export function zonas() {
  return new Map([...series.values()].map(s => [s.estacion, s.zona]));
}

// A station's series as the overview's last answer gives them.
export function deEstacion(nombre) {
  return [...series.values()].filter(s => s.estacion === nombre);
}

// The overview's rows of the series marked for plotting, in table order.
export function marcadas() {
  return claves().map(k => series.get(k)).filter(Boolean);
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
    const informe = el('button', {type: 'button', className: 'informe'}, 'Informe');
    informe.setAttribute('aria-label', `Informe de ${nombreEstacion(estacion)}`);
    art.append(el('h2', {}, el('span', {className: 'nombre'}, nombreEstacion(estacion)), el('span', {className: 'cuenta'}),
                  informe));
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
export function pinta() {
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

export async function refresca() {
  try {
    const {datos, etiqueta} = await pide('/api/resumen', limiteResumen, vigente.etiqueta);
    vigente.ultima = performance.now();
    vigente.etiqueta = etiqueta;
    vigente.error = '';
    if (datos) {
      desfase = datos.ahora - Date.now();
      Object.assign(vigente, {lista: datos.series, ahora: datos.ahora, en: vigente.ultima, usuario: datos.usuario || ''});
      if (datos.sitio && $('sitio').textContent !== datos.sitio) {
        $('sitio').textContent = datos.sitio;
        document.title = `Climalog - ${datos.sitio}`;
      }
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
