// What the overview says of its rows and stations, without a page: the
// mark of each latest reading, the status line by the age of the last
// answer, the warnings counted per station and the summary at the top.
import {duracion, hora, numero} from './formatos.js';

export const caduca = 5000;       // ms without an answer before what the page shows is marked as old

// The mark of a series' latest reading, from the server's judgement of it
// (the marks' one rule): `aviso` says the row deserves a look, and counts
// in its station's "N avisos".
export function marca(s, ahora) {
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
export function sinRespuesta(edad) {
  return edad > caduca ? `Sin respuesta desde hace ${duracion(edad)}` : '';
}

// The status line, from the age of the last answer by this browser's clock
// (`edad`, null before the first) and the server's time at that answer.
export function estado({edad, error, ahora, zona, vacia}) {
  const ultima = () => `Última actualización: ${hora(ahora, zona)}; se vuelve a intentar.`;
  if (edad == null)
    return {texto: error ? `Sin respuesta: ${error}. Se vuelve a intentar.` : 'Cargando...', fallo: !!error};
  if (edad > caduca)
    return {texto: `Sin respuesta desde hace ${duracion(edad)}${error ? ` (${error})` : ''}. ${ultima()}`, fallo: true};
  if (error)
    return {texto: `Sin respuesta: ${error}. ${ultima()}`, fallo: true};
  return {texto: vacia ? 'Aún no hay lecturas archivadas.' : `Actualizado: ${hora(ahora, zona)}`, fallo: false};
}

export function cuenta(n) {
  return n === 0 ? '' : n === 1 ? '1 aviso' : `${n} avisos`;
}

// Each station in the server's order: its rows that deserve a look and,
// when not one of its rows is current, how long since its newest reading.
export function estaciones(lista, ahora) {
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
export function sumario(lista, ahora) {
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

export function nombreEstacion(e) {
  return e || '(sin nombre)';
}
