// The page of every station, started: the alarms' panel (avisos.js); the
// overview (resumen.js), asked again every second and updated in place,
// with a summary of the stations that deserve a look; plots of the columns
// marked in it (graficas.js); the export of what the plot shows; and each
// station's report (informe.js). The parts that need no page (formatos.js,
// marcas.js, series.js, peticiones.js, avisos.js's texts) are tested under
// Node by tests/web.
import * as avisos from './avisos.js';
import {$} from './dom.js';
import {enZona} from './formatos.js';
import * as graficas from './graficas.js';
import * as informe from './informe.js';
import * as resumen from './resumen.js';

function inicia() {
  window.climalog = {grafica: graficas.grafica};
  $('dibujar').addEventListener('click', () => graficas.dibuja(resumen.marcadas()));
  $('intervalo').addEventListener('change', () => {
    const otro = $('intervalo').value === '';
    $('otro').hidden = !otro;
    if (otro && !$('desde').value) {
      const zona = resumen.primeraZona();
      const ahora = resumen.ahoraServidor();
      $('desde').value = enZona(ahora - 86400000, zona);
      $('hasta').value = enZona(ahora, zona);
    }
  });
  graficas.inicia(resumen.ahoraServidor);
  informe.inicia();
  // The tables are rebuilt when the series change: one listener for every
  // station's "Informe".
  $('resumen').addEventListener('click', e => {
    const boton = e.target.closest('button.informe');
    if (boton) {
      const nombre = boton.closest('article').dataset.estacion;
      informe.abre(nombre, resumen.deEstacion(nombre), resumen.ahoraServidor());
    }
  });
  avisos.inicia(resumen.zonas, resumen.primeraZona);
  setInterval(resumen.pinta, 1000);
  resumen.refresca();
}

inicia();
