// The page's modules that need no page: its texts, marks, counts, plot
// points and the alarms panel's rows and history parameters, under Node's own test runner (node --test). Each table's rows
// are worked out by hand from what the page must show.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import * as avisos from '../../src/web/page/avisos.js';
import * as formatos from '../../src/web/page/formatos.js';
import * as marcas from '../../src/web/page/marcas.js';
import * as peticiones from '../../src/web/page/peticiones.js';
import * as series from '../../src/web/page/series.js';

const app = {...avisos, ...formatos, ...marcas, ...peticiones, ...series};

const utc = (y, mo, d, h, mi, s = 0) => Date.UTC(y, mo - 1, d, h, mi, s);
const ahora = utc(2026, 12, 7, 13, 3, 9);
const min = 60000;

test('numbers and durations as the page writes them', () => {
  const rows = [
    ['decimal comma', app.numero(21.5), '21,5'],
    ['whole value', app.numero(18), '18'],
    ['negative', app.numero(-0.5), '-0,5'],
    ['no value', app.numero(null), ''],
    ['no time', app.duracion(0), '0 s'],
    ['just under two minutes', app.duracion(119499), '119 s'],
    ['two minutes once rounded', app.duracion(119500), '2 min'],
    ['just under two hours', app.duracion(7199000), '120 min'],
    ['two hours', app.duracion(7200000), '2 h'],
    ['just under two days', app.duracion(172799000), '48 h'],
    ['two days', app.duracion(172800000), '2 días'],
  ];
  for (const [name, got, want] of rows)
    assert.equal(got, want, name);
});

test('times in the station\'s own zone, whatever the browser\'s', () => {
  const rows = [
    ['winter in Madrid', app.hora(ahora, 'Europe/Madrid'), '07-12-2026 14:03:09'],
    ['the Canaries, an hour behind', app.hora(ahora, 'Atlantic/Canary'), '07-12-2026 13:03:09'],
    ['summer in Madrid', app.hora(utc(2026, 7, 1, 12, 0), 'Europe/Madrid'), '01-07-2026 14:00:00'],
    ['a new year there, not yet here', app.hora(utc(2026, 12, 31, 23, 30), 'Europe/Madrid'), '01-01-2027 00:30:00'],
    ['back to an instant', app.desdeZona('2026-12-07T14:03:09', 'Europe/Madrid'), ahora],
    ['after the clocks go forward', app.desdeZona('2026-03-29T03:30', 'Europe/Madrid'), utc(2026, 3, 29, 1, 30)],
    ['before they go back', app.desdeZona('2026-10-25T01:30', 'Europe/Madrid'), utc(2026, 10, 24, 23, 30)],
    ['not a time', app.desdeZona('ayer', 'Europe/Madrid'), NaN],
    ['a form\'s text', app.enZona(ahora, 'Atlantic/Canary'), '2026-12-07T13:03:09'],
  ];
  for (const [name, got, want] of rows)
    assert.equal(got, want, name);
});

test('the mark of a latest reading and whether it deserves a look', () => {
  const fila = extra => ({hora: ahora - 2000, valor: 20, aviso: '', antigua: false, min: 18, max: 22, ...extra});
  const rows = [
    ['inside its limits', fila({}), '', [], false],
    ['below a minimum with decimals', fila({valor: 17, aviso: 'bajo', min: 17.5}), 'Bajo el mínimo (17,5)', ['aviso'], true],
    ['a failed read', fila({valor: null}), '', ['err'], true],
    ['stopped twelve minutes ago', fila({hora: ahora - 12 * min, antigua: true}), 'Sin lecturas desde hace 12 min', ['antigua'], true],
    ['above and stopped', fila({valor: 30, aviso: 'alto', hora: ahora - 3 * 60 * min, antigua: true}),
     'Sobre el máximo (22) · Sin lecturas desde hace 3 h', ['aviso', 'antigua'], true],
    ['never read', fila({hora: null, valor: null}), 'Sin lecturas', ['antigua'], true],
  ];
  for (const [name, s, texto, clases, aviso] of rows)
    assert.deepEqual(app.marca(s, ahora), {texto, clases, aviso}, name);
});

test('the status line by the age of the last answer', () => {
  const base = {ahora, zona: 'Europe/Madrid', error: '', vacia: false};
  const rows = [
    ['before the first answer', {...base, edad: null}, 'Cargando...', false],
    ['no first answer', {...base, edad: null, error: 'no se puede conectar con el servidor'},
     'Sin respuesta: no se puede conectar con el servidor. Se vuelve a intentar.', true],
    ['a fresh answer', {...base, edad: 900}, 'Actualizado: 07-12-2026 14:03:09', false],
    ['nothing archived yet', {...base, edad: 900, vacia: true}, 'Aún no hay lecturas archivadas.', false],
    ['still current at the limit', {...base, edad: app.caduca}, 'Actualizado: 07-12-2026 14:03:09', false],
    ['one request failed', {...base, edad: 1500, error: 'La base de datos no responde'},
     'Sin respuesta: La base de datos no responde. Última actualización: 07-12-2026 14:03:09; se vuelve a intentar.', true],
    ['past the limit, still waiting', {...base, edad: app.caduca + 1000},
     `Sin respuesta desde hace ${app.caduca / 1000 + 1} s. Última actualización: 07-12-2026 14:03:09; se vuelve a intentar.`, true],
    ['past the limit, timed out', {...base, edad: 45000, error: 'el servidor no contestó en 5 s'},
     'Sin respuesta desde hace 45 s (el servidor no contestó en 5 s). Última actualización: 07-12-2026 14:03:09; se vuelve a intentar.', true],
  ];
  for (const [name, v, texto, fallo] of rows)
    assert.deepEqual(app.estado(v), {texto, fallo}, name);
  assert.equal(app.sinRespuesta(app.caduca), '');
  assert.equal(app.sinRespuesta(45000), 'Sin respuesta desde hace 45 s');
});

test('stations that deserve a look, stopped ones first', () => {
  const s = (estacion, extra) => ({estacion, hora: ahora - 2000, valor: 20, aviso: '', antigua: false, ...extra});
  const lista = [
    s('bien', {}), s('bien', {}),
    s('invernadero', {valor: 25, aviso: 'alto'}), s('invernadero', {valor: null}),
    s('invernadero', {hora: ahora - 10 * min, antigua: true}), s('invernadero', {}),
    s('', {valor: 1, aviso: 'activa'}),
    s('mirador', {hora: ahora - 87 * min, antigua: true}), s('mirador', {hora: ahora - 90 * min, antigua: true}),
    s('nueva', {hora: null, valor: null}),
  ];
  assert.deepEqual(app.estaciones(lista, ahora).map(e => [e.estacion, e.avisos, e.parada]), [
    ['bien', 0, null], ['invernadero', 3, null], ['', 1, null], ['mirador', 2, 87 * min], ['nueva', 1, Infinity],
  ]);
  const r = app.sumario(lista, ahora);
  assert.equal(r.cabeza, '5 estaciones; con avisos:');
  assert.deepEqual(r.estaciones.map(e => [e.i, e.texto, e.parada]), [
    [4, 'nueva: 1 aviso, sin lecturas', true],
    [3, 'mirador: 2 avisos, sin lecturas desde hace 87 min', true],
    [1, 'invernadero: 3 avisos', false],
    [2, '(sin nombre): 1 aviso', false],
  ]);
  assert.equal(app.sumario([s('bien', {})], ahora).cabeza, '1 estación, todas sin avisos.');
  assert.deepEqual([0, 1, 2].map(app.cuenta), ['', '1 aviso', '2 avisos']);
});

test('plot points: each bucket\'s lowest and highest, and gaps where readings stop', () => {
  const rows = [
    {name: 'lines a second, a stop of 30 s',
     sr: {t: [0, 1, 2, 32, 33], min: [1, 2, 3, 4, 5], max: [1, 2, 3, 4, 5]}, cubo: 0.5,
     want: [[0, 1, 2, 17, 32, 33], [1, 2, 3, null, 4, 5], [[2, 32]]]},
    {name: 'a stop of four intervals is no gap',
     sr: {t: [0, 1, 2, 6, 7], min: [1, 1, 1, 1, 1], max: [1, 1, 1, 1, 1]}, cubo: 0.5,
     want: [[0, 1, 2, 6, 7], [1, 1, 1, 1, 1], []]},
    {name: 'minute buckets keep both extremes',
     sr: {t: [0, 60, 120], min: [20, 21, 19], max: [25.9, 21, 24]}, cubo: 60,
     want: [[0, 30, 60, 120, 150], [20, 25.9, 21, 19, 24], []]},
    {name: 'a failed bucket breaks the line',
     sr: {t: [0, 60], min: [null, 20], max: [null, 22]}, cubo: 60,
     want: [[0, 60, 90], [null, 20, 22], []]},
  ];
  for (const {name, sr, cubo, want} of rows)
    assert.deepEqual(app.puntos(sr, cubo, 0), want, name);
  // Inputs are stacked in their strip.
  assert.deepEqual(app.puntos({t: [0, 1], min: [0, 1], max: [0, 1]}, 0.5, 1.5)[1], [1.5, 2.5]);
});

test('two stations on one time axis: a stop stays a gap beside the other\'s times', () => {
  // A: a line every second, stopped from 3 to 40; B: every 5 s at other times.
  const a = app.puntos({t: [0, 1, 2, 3, 40, 41], min: [10, 11, 12, 13, 14, 15], max: [10, 11, 12, 13, 14, 15]}, 0.5, 0);
  const b = app.puntos({t: [2.5, 7.5, 12.5, 17.5, 22.5, 27.5, 32.5, 37.5, 42.5],
                        min: [1, 2, 3, 4, 5, 6, 7, 8, 9], max: [1, 2, 3, 4, 5, 6, 7, 8, 9]}, 0.5, 0);
  const [xs, ya, yb] = app.junta([a, b]);
  const en = x => xs.indexOf(x);
  for (const x of [7.5, 12.5, 21.5, 37.5])
    assert.equal(ya[en(x)], null, `A at ${x}, inside its stop`);
  assert.equal(ya[en(2.5)], undefined, 'A at 2.5 goes on through');
  assert.equal(ya[en(42.5)], undefined, 'A after its last line');
  assert.deepEqual([0, 1, 2, 3, 40, 41].map(x => ya[en(x)]), [10, 11, 12, 13, 14, 15]);
  assert.deepEqual([2.5, 7.5, 42.5].map(x => yb[en(x)]), [1, 2, 9]);
  assert.equal(yb[en(21.5)], undefined, 'B has no stop of its own');
  assert.deepEqual(xs, [...xs].sort((p, q) => p - q));
  // A single series is drawn as it is.
  assert.deepEqual(app.junta([a]), [a[0], a[1]]);
});

test('what an answer brings', async () => {
  const json = (body, status) => new Response(JSON.stringify(body), {status, headers: {'Content-Type': 'application/json'}});
  assert.equal(await app.respuesta(new Response(null, {status: 304})), null, 'not modified: unchanged');
  assert.deepEqual(await app.respuesta(json({ahora: 1, series: []}, 200)), {ahora: 1, series: []});
  const fallos = [
    ['a busy server', json({error: 'La base de datos no responde.'}, 503), 'La base de datos no responde.'],
    ['a proxy\'s page', new Response('<html>Bad gateway</html>', {status: 502}), 'respuesta 502 del servidor'],
    ['a cut answer', new Response('{"ahora": 1, "ser', {status: 200}), 'respuesta 200 del servidor'],
  ];
  for (const [name, r, message] of fallos)
    await assert.rejects(app.respuesta(r), {message}, name);
});

test('each column in its plot, the plots in the desktop viewer\'s order', () => {
  const s = (columna, unidad, clase, tipo = '') => ({columna, unidad, clase, tipo});
  const rows = [
    ['a temperature sensor', s('Sala (ºC)', 'ºC', 'T', 'STT'), 'temperatura', 'Temperatura (ºC)'],
    ['a humidity', s('Sala - H (%)', '%', 'H', 'HRT'), 'humedad', 'Humedad (%)'],
    ['a converter\'s channel in degrees is a channel', s('Tanque - a (ºC)', 'ºC', 'a', 'AVI'), 'canal:ºC', 'Canales (ºC)'],
    ['a channel without unit', s('Tanque - b ()', '', 'b', 'AVI'), 'canal:', 'Canales (sin unidad)'],
    ['a detector\'s input', s('Puerta - 1', '', '1', 'DET'), 'entradas', 'Entradas'],
    ['a relay', s('Riego - 2', '', '2', 'CTR'), 'entradas', 'Entradas'],
    ['an input of a device no longer configured', s('Puerta - 2', '', '2'), 'entradas', 'Entradas'],
    ['a channel of a device no longer configured', s('Tanque - c (bar)', 'bar', 'c'), 'canal:bar', 'Canales (bar)'],
    ['a humidity of a device no longer configured', s('Nave - H (%)', '%', 'H'), 'humedad', 'Humedad (%)'],
  ];
  // The class, not the text: a device whose name looks like a channel.
  const parecidas = [
    ['a temperature of a device named like a channel', s('Cámara - b (x) (ºC)', 'ºC', 'T'), 'temperatura', 'Temperatura (ºC)'],
    ['its humidity', s('Cámara - b (x) (%)', '%', 'H'), 'humedad', 'Humedad (%)'],
  ];
  for (const [name, col, clave, titulo] of [...rows, ...parecidas])
    assert.deepEqual(app.clase(col), {clave, titulo}, name);
  const orden = app.grupos(rows.map(r => r[1])).map(g => [g.clave, g.series.length]);
  assert.deepEqual(orden, [['temperatura', 1], ['humedad', 2], ['canal:ºC', 1], ['canal:', 1], ['canal:bar', 1],
                           ['entradas', 3]]);
  assert.equal(app.etiqueta({estacion: 'nave', puerto: '/1', columna: 'Sala (ºC)'}, true), 'nave - puerto /1 - Sala (ºC)');
  assert.equal(app.iso(1765112589.4996), '2025-12-07T13:03:09.500Z');
});

test('the alarms panel: active first, each row in its station\'s time', () => {
  const aviso = extra => ({id: 1, estacion: 'nave', zona: 'Europe/Madrid', puerto: '1', columna: 'Sala (ºC)', unidad: 'ºC',
                           condicion: 'alto', inicio: ahora - 60 * min, fin: null, extremo: 25.5, limite: 22,
                           reconocido: null, reconocido_por: '', silenciado_hasta: null, ...extra});
  const lista = [
    aviso({id: 1, inicio: ahora - 300 * min, fin: ahora - 200 * min}),
    aviso({id: 2, inicio: ahora - 90 * min}),
    aviso({id: 3, inicio: ahora - 500 * min, fin: ahora - 10 * min}),
    aviso({id: 4, inicio: ahora - 5 * min}),
    aviso({id: 5, inicio: ahora - 90 * min}),
  ];
  assert.deepEqual(app.ordena(lista).map(a => a.id), [4, 5, 2, 3, 1]);
  assert.deepEqual(lista.map(a => a.id), [1, 2, 3, 4, 5], 'the answer itself is left as it came');
  assert.equal(app.cabeza(lista), '3 activos, 5 sin reconocer.');
  assert.equal(app.cabeza([aviso({reconocido: ahora})]), '1 activo, 0 sin reconocer.');
  assert.equal(app.cabeza([]), 'Ningún aviso activo ni reciente.');

  const estados = [
    ['active, nobody has seen it', aviso({}), 'Activo · sin reconocer', ['activo', 'sinreconocer']],
    ['ended, acknowledged', aviso({fin: ahora - min, reconocido: ahora - 2 * min, reconocido_por: 'ana'}),
     'Terminado · reconocido por ana el 07-12-2026 14:01:09', ['terminado']],
    ['silenced for a while yet', aviso({silenciado_hasta: ahora + 1000}),
     'Activo · sin reconocer · silenciado hasta 07-12-2026 14:03:10', ['activo', 'sinreconocer', 'silenciado']],
    ['a silence that has ended', aviso({silenciado_hasta: ahora}), 'Activo · sin reconocer', ['activo', 'sinreconocer']],
  ];
  for (const [name, a, texto, clases] of estados)
    assert.deepEqual(app.estadoAviso(a, ahora), {texto, clases}, name);

  // A row's cells: a stopped port of a station without a name, in the Canaries, ended.
  assert.deepEqual(app.celdas(aviso({estacion: '', zona: 'Atlantic/Canary', columna: '', unidad: '', condicion: 'parada',
                                     extremo: null, limite: 600, fin: ahora})),
                   {estacion: '(sin nombre)', puerto: '1', columna: '(el puerto)', condicion: 'Puerto parado',
                    inicio: '07-12-2026 12:03:09', fin: '07-12-2026 13:03:09', extremo: '', limite: '600'});
});

test('the history\'s parameters from its form', () => {
  const rows = [
    ['nothing chosen', {estacion: '', desde: '', hasta: ''}, 'Europe/Madrid', {texto: ''}],
    ['a station and a winter day in its time', {estacion: 'nave', desde: '2026-12-07T14:00', hasta: '2026-12-08T00:00:00'},
     'Europe/Madrid', {texto: 'estacion=nave&desde=2026-12-07T13%3A00%3A00.000Z&hasta=2026-12-07T23%3A00%3A00.000Z'}],
    ['a summer start only, in the Canaries', {estacion: '', desde: '2026-07-01T00:00', hasta: ''}, 'Atlantic/Canary',
     {texto: 'desde=2026-06-30T23%3A00%3A00.000Z'}],
    ['a name that is no plain word', {estacion: 'a&b=c d', desde: '', hasta: ''}, 'UTC', {texto: 'estacion=a%26b%3Dc+d'}],
    ['a date that cannot be read', {estacion: '', desde: '', hasta: 'mañana'}, 'UTC', {error: 'La fecha «hasta» no es válida.'}],
  ];
  for (const [name, f, zona, want] of rows)
    assert.deepEqual(app.consulta(f, zona), want, name);
});
