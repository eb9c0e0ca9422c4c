// A network library that lacks most of its calls: the program must refuse
// it with a message instead of crashing on the first missing one.
#include "sondaio.h"

SONDAIO_API int16_t SONDAIO_CALL IniciarCNX(int16_t port, char *portName, char *message)
{
    return (void)port, (void)portName, (void)message, 1;
}
