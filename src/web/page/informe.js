// The report of a station: its panel (a modal dialog, so the keyboard stays
// in it and Escape closes it) chooses the period, by default the station's
// today, and the columns, all of them at first; the file is asked for
// with the page's own request, so a refusal is read in the panel, not on
// a page of its own, and then saved under the name the server gives it.
import {$, el} from './dom.js';
import {enZona} from './formatos.js';
import {respuesta} from './peticiones.js';

const limiteInforme = 120000; // ms a report may take, waiting its turn included

const textoFecha = {dia: 'Día', semana: 'Un día de la semana', mes: 'Un día del mes', fechas: 'Desde'};

let estacion = '';
let todas = [];   // the station's series when the panel opened

function periodo() {
  return $('informe-form').querySelector('input[name="periodo"]:checked').value;
}

function muestraPeriodo() {
  const p = periodo();
  $('informe-desde-texto').textContent = textoFecha[p];
  $('informe-hasta-campo').hidden = p !== 'fechas';
  $('informe-hasta').required = p === 'fechas';
}

function mensaje(texto) {
  $('informe-mensaje').textContent = texto;
}

// The request's address: the station when every column is chosen, the
// chosen series otherwise; null (and why, in the panel) when incomplete.
function direccion(formato) {
  const marcadas = [...$('informe-columnas').querySelectorAll('input:checked')].map(c => +c.value);
  if (marcadas.length === 0) {
    mensaje('Marque al menos una columna.');
    return null;
  }
  const q = new URLSearchParams();
  if (marcadas.length === todas.length)
    q.set('estacion', estacion);
  else
    q.set('series', marcadas.join(','));
  const p = periodo();
  q.set('periodo', p);
  q.set('desde', $('informe-desde').value);
  if (p === 'fechas')
    q.set('hasta', $('informe-hasta').value);
  q.set('formato', formato);
  if (!$('informe-desde').value || (p === 'fechas' && !$('informe-hasta').value)) {
    mensaje('Escriba la fecha del informe.');
    return null;
  }
  return `/api/informe?${q}`;
}

function nombreDe(r, formato) {
  const m = /filename="([^"]+)"/.exec(r.headers.get('Content-Disposition') || '');
  return m ? m[1] : `informe.${formato}`;
}

async function descarga(formato) {
  const url = direccion(formato);
  if (!url)
    return;
  const botones = [$('informe-pdf'), $('informe-csv')];
  botones.forEach(b => { b.disabled = true; });
  mensaje('Haciendo el informe...');
  try {
    const r = await fetch(url, {credentials: 'same-origin', cache: 'no-store',
                                signal: AbortSignal.timeout(limiteInforme)});
    if (r.status === 401) {
      location.href = '/entrar';
      return;
    }
    if (!r.ok)
      await respuesta(r);
    const nombre = nombreDe(r, formato);
    const enlace = el('a', {href: URL.createObjectURL(await r.blob()), download: nombre, hidden: true});
    document.body.append(enlace);
    enlace.click();
    enlace.remove();
    setTimeout(() => URL.revokeObjectURL(enlace.href), 60000);
    mensaje(`Descargado: ${nombre}`);
  } catch (e) {
    const texto = e.name === 'TimeoutError' ? `el servidor no contestó en ${limiteInforme / 1000} s`
      : e instanceof TypeError ? 'no se puede conectar con el servidor' : e.message;
    mensaje(`No se pudo hacer el informe: ${texto.replace(/\.$/, '')}.`);
  } finally {
    botones.forEach(b => { b.disabled = false; });
  }
}

// Opens the panel for `nombre`, its series `lista` (the overview's rows),
// with the station's today at `ahora` (ms).
export function abre(nombre, lista, ahora) {
  estacion = nombre;
  todas = lista;
  const zona = (lista[0] || {}).zona;
  $('informe-titulo').textContent = `Informe de ${nombre || '(sin nombre)'}`;
  const hoy = enZona(ahora, zona).slice(0, 10);
  $('informe-desde').value = hoy;
  $('informe-hasta').value = hoy;
  const casillas = lista.map(s => el('label', {},
    el('input', {type: 'checkbox', value: String(s.serie), checked: true}), ` Puerto ${s.puerto} - ${s.columna}`));
  $('informe-columnas').replaceChildren(el('legend', {}, 'Columnas'), ...casillas);
  mensaje('');
  muestraPeriodo();
  $('informe').showModal();
}

export function inicia() {
  // Enter in a date field sends nothing: only the two buttons do.
  $('informe-form').addEventListener('submit', e => e.preventDefault());
  for (const r of $('informe-form').querySelectorAll('input[name="periodo"]'))
    r.addEventListener('change', muestraPeriodo);
  $('informe-pdf').addEventListener('click', () => descarga('pdf'));
  $('informe-csv').addEventListener('click', () => descarga('csv'));
  $('informe-cerrar').addEventListener('click', () => $('informe').close());
}
