// A network library that needs a library nobody has (absent.def): it cannot
// be loaded, as the maker's cannot when one of its own libraries is not
// beside it.
#include "sondaio.h"

__declspec(dllimport) int absent(void);

SONDAIO_API int16_t SONDAIO_CALL IniciarCNX(int16_t port, char *portName, char *message)
{
    return (void)port, (void)portName, (void)message, (int16_t)absent();
}
