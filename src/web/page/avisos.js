// The "Avisos" panel: the alarms raised from the archived readings, the
// active ones first and those nobody has acknowledged yet marked; each may
// be acknowledged with a comment or silenced for a while; and the history,
// filtered by station and dates, with its CSV. Its texts and the requests'
// parameters (the exported functions before inicia) need no page and are
// tested under Node by tests/web.
import {$, el} from './dom.js';
import {desdeZona, hora, numero} from './formatos.js';
import {nombreEstacion} from './marcas.js';
import {envia, pide} from './peticiones.js';

export const condiciones = {
  alto: 'Sobre el máximo', bajo: 'Bajo el mínimo', activa: 'Entrada activa', err: 'Lecturas ERR',
  parada: 'Puerto parado',
};
// The lengths a silence may be chosen for: minutes and their words.
export const silencios = [[15, '15 min'], [60, '1 h'], [240, '4 h'], [1440, '1 día']];
export const largoComentario = 2000;

// Active first, newest first; then the ended ones, the latest ended first.
export function ordena(lista) {
  return [...lista].sort((a, b) => (a.fin != null) - (b.fin != null) ||
    (a.fin != null && b.fin - a.fin) || b.inicio - a.inicio || b.id - a.id);
}

// What the alarm's row says of it now (`ahora`, the server's time, ms).
export function estadoAviso(a, ahora) {
  const partes = [a.fin == null ? 'Activo' : 'Terminado'];
  const clases = [a.fin == null ? 'activo' : 'terminado'];
  if (a.reconocido == null) {
    partes.push('sin reconocer');
    clases.push('sinreconocer');
  } else {
    partes.push(`reconocido por ${a.reconocido_por} el ${hora(a.reconocido, a.zona)}`);
  }
  if (a.silenciado_hasta != null && a.silenciado_hasta > ahora) {
    partes.push(`silenciado hasta ${hora(a.silenciado_hasta, a.zona)}`);
    clases.push('silenciado');
  }
  return {texto: partes.join(' · '), clases};
}

function valor(v, unidad) {
  return v == null ? '' : unidad ? `${numero(v)} ${unidad}` : numero(v);
}

// The cells of an alarm's row, in the table's order; times in the
// station's own zone.
export function celdas(a) {
  return {
    estacion: nombreEstacion(a.estacion), puerto: a.puerto, columna: a.columna || '(el puerto)',
    condicion: condiciones[a.condicion] || a.condicion,
    inicio: hora(a.inicio, a.zona), fin: a.fin == null ? '' : hora(a.fin, a.zona),
    extremo: valor(a.extremo, a.unidad), limite: valor(a.limite, a.unidad),
  };
}

// The panel's title line.
export function cabeza(lista) {
  const activos = lista.filter(a => a.fin == null).length;
  const pendientes = lista.filter(a => a.reconocido == null).length;
  if (lista.length === 0)
    return 'Ningún aviso activo ni reciente.';
  const n = (k, uno, varios) => `${k} ${k === 1 ? uno : varios}`;
  return `${n(activos, 'activo', 'activos')}, ${n(pendientes, 'sin reconocer', 'sin reconocer')}.`;
}

// The history's parameters from its form: the dates as the station's wall
// clock (`zona`), each end optional. {error} when a date cannot be read.
export function consulta({estacion, desde, hasta}, zona) {
  const q = new URLSearchParams();
  if (estacion)
    q.set('estacion', estacion);
  for (const [nombre, texto] of [['desde', desde], ['hasta', hasta]]) {
    if (!texto)
      continue;
    const ms = desdeZona(texto, zona);
    if (Number.isNaN(ms))
      return {error: `La fecha «${nombre}» no es válida.`};
    q.set(nombre, new Date(ms).toISOString());
  }
  return {texto: q.toString()};
}

// ---- The panel on the page.

const refresco = 5000;  // ms between two requests of the list
const limite = 10000;   // ms a request may take

const estado = {
  lista: [], ahora: 0, en: 0, ficha: '', forma: '', accion: null,
  zonas: () => new Map(),   // station -> its zone, from the overview
  primeraZona: () => undefined,
};

function ahoraServidor() {
  return estado.ahora + (performance.now() - estado.en);
}

function fila(a, conAcciones) {
  const c = celdas(a);
  const e = estadoAviso(a, ahoraServidor());
  const tr = el('tr', {className: e.clases.join(' ')},
    ...['estacion', 'puerto', 'columna', 'condicion', 'inicio', 'fin', 'extremo', 'limite'].map(k =>
      el('td', {className: k}, c[k])),
    el('td', {className: 'estado'}, e.texto));
  tr.dataset.aviso = a.id;
  if (a.comentario)
    tr.title = `Comentario: ${a.comentario}`;
  // The history shows each comment; the list, its buttons.
  if (!conAcciones)
    tr.append(el('td', {className: 'comentario'}, a.comentario));
  if (conAcciones) {
    const botones = el('td', {className: 'acciones'});
    if (a.reconocido == null)
      botones.append(el('button', {type: 'button', className: 'reconocer', onclick: () => abre(a, 'reconocer')},
        'Reconocer'));
    // Only an active alarm has reminders to silence.
    if (a.fin == null)
      botones.append(el('button', {type: 'button', className: 'silenciar', onclick: () => abre(a, 'silenciar')},
        'Silenciar'));
    tr.append(botones);
  }
  return tr;
}

function cabecera(conAcciones) {
  const t = ['Estación', 'Puerto', 'Columna', 'Condición', 'Inicio', 'Fin', 'Extremo', 'Límite', 'Estado',
             conAcciones ? '' : 'Comentario'];
  return el('thead', {}, el('tr', {}, ...t.map(x => el('th', {}, x))));
}

function pintaLista() {
  const lista = ordena(estado.lista);
  $('avisos-cabeza').textContent = cabeza(lista);
  $('avisos-lista').replaceChildren(cabecera(true), el('tbody', {}, ...lista.map(a => fila(a, true))));
  $('avisos-lista').hidden = lista.length === 0;
}

async function refresca() {
  try {
    const {datos} = await pide('/api/avisos', limite);
    estado.ficha = datos.ficha;
    estado.ahora = datos.ahora;
    estado.en = performance.now();
    const forma = JSON.stringify(datos.avisos);
    // Rebuilt only when an alarm changed, so a click is never lost to a
    // table made anew under the pointer.
    if (forma !== estado.forma) {
      estado.lista = datos.avisos;
      estado.forma = forma;
      pintaLista();
    }
    $('avisos-mensaje').textContent = '';
  } catch (e) {
    $('avisos-mensaje').textContent = `Los avisos no se pueden leer: ${e.message}. Se vuelve a intentar.`;
  }
}

function abre(a, accion) {
  estado.accion = {aviso: a.id, accion};
  const c = celdas(a);
  $('accion-que').textContent = `${accion === 'reconocer' ? 'Reconocer' : 'Silenciar'} el aviso de ` +
    `${c.estacion}, puerto ${c.puerto}, ${c.columna}: ${c.condicion} desde ${c.inicio}`;
  $('accion-comentario').hidden = accion !== 'reconocer';
  $('accion-duracion').hidden = accion !== 'silenciar';
  $('accion-enviar').textContent = accion === 'reconocer' ? 'Reconocer' : 'Silenciar';
  $('accion-mensaje').textContent = '';
  $('accion').hidden = false;
  $(accion === 'reconocer' ? 'comentario' : 'duracion').focus();
}

function cierra() {
  estado.accion = null;
  $('accion').hidden = true;
  $('comentario').value = '';
}

async function manda(event) {
  event.preventDefault();
  const x = estado.accion;
  if (!x)
    return;
  const cuerpo = x.accion === 'reconocer' ? {aviso: x.aviso, comentario: $('comentario').value}
    : {aviso: x.aviso, minutos: +$('duracion').value};
  $('accion-enviar').disabled = true;
  try {
    let r = await envia(`/api/avisos/${x.accion}`, estado.ficha, cuerpo, limite);
    // A token gone stale (the server started again, the session is new):
    // the list brings the current one, and the change is sent once more.
    if (r.estado === 403) {
      await refresca();
      r = await envia(`/api/avisos/${x.accion}`, estado.ficha, cuerpo, limite);
    }
    if (r.estado !== 200) {
      // Someone else may have acknowledged it meanwhile: the list shows so.
      $('accion-mensaje').textContent = r.datos.error || `respuesta ${r.estado} del servidor`;
      refresca();
      return;
    }
    cierra();
    await refresca();
  } catch (e) {
    $('accion-mensaje').textContent = e.message;
  } finally {
    $('accion-enviar').disabled = false;
  }
}

// The stations the filter offers: the overview's, with their zones.
function estaciones() {
  const zonas = estado.zonas();
  const sel = $('historia-estacion');
  const vistas = [...sel.options].slice(1).map(o => o.value);
  if (vistas.join('\n') === [...zonas.keys()].join('\n'))
    return;
  const elegida = sel.value;
  sel.replaceChildren(el('option', {value: ''}, 'Todas'),
    ...[...zonas.keys()].map(e => el('option', {value: e}, nombreEstacion(e))));
  sel.value = elegida;
}

function filtros() {
  const f = {estacion: $('historia-estacion').value, desde: $('historia-desde').value,
             hasta: $('historia-hasta').value};
  return consulta(f, estado.zonas().get(f.estacion) || estado.primeraZona());
}

async function historia() {
  const q = filtros();
  $('historia-mensaje').textContent = q.error || '';
  if (q.error)
    return;
  try {
    const {datos} = await pide(`/api/avisos/historia?${q.texto}`, limite);
    $('historia-lista').replaceChildren(cabecera(false), el('tbody', {}, ...datos.avisos.map(a => fila(a, false))));
    $('historia-mensaje').textContent = datos.avisos.length === 0 ? 'Ningún aviso con esos filtros.'
      : datos.completa ? '' : `Se muestran los ${datos.avisos.length} más recientes; el CSV los tiene todos.`;
  } catch (e) {
    $('historia-mensaje').textContent = `La historia no se puede leer: ${e.message}.`;
  }
}

function enlaceCsv() {
  const q = filtros();
  const formato = $('historia-formato').value;
  $('historia-csv').href = q.error ? '#' : `/api/avisos/csv?${q.texto ? `${q.texto}&` : ''}${formato}`;
}

// `zonas`: the overview's stations and their zones; `primeraZona`: the
// zone for dates when no station is chosen.
export function inicia(zonas, primeraZona) {
  estado.zonas = zonas;
  estado.primeraZona = primeraZona;
  const duracion = $('duracion');
  duracion.replaceChildren(...silencios.map(([m, texto]) => el('option', {value: m}, texto)));
  duracion.value = '60';
  $('comentario').maxLength = largoComentario;
  $('accion').addEventListener('submit', manda);
  $('accion-cancelar').addEventListener('click', cierra);
  $('historia-buscar').addEventListener('click', historia);
  $('historia').addEventListener('toggle', () => { estaciones(); enlaceCsv(); });
  for (const id of ['historia-estacion', 'historia-desde', 'historia-hasta', 'historia-formato'])
    $(id).addEventListener('change', enlaceCsv);
  $('historia-estacion').addEventListener('focus', estaciones);
  refresca();
  setInterval(refresca, refresco);
}
