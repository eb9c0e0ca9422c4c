/* Test controls of the simulated network. The program never calls these;
 * tests and benchmarks resolve them from the same library file by name
 * (dlsym), so the simulator stays a drop-in for the real library. */
#ifndef SIMCONTROL_H
#define SIMCONTROL_H

#include "sondaio.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the whole network by the description text (format in sim/network.md).
 * NULL reads the description file beside the library, or the built-in demo
 * network when there is none. Resets counters, relay memories and the random
 * generator. Returns 0, or the number of the first line it could not read. */
SONDAIO_API int SimLoad(const char *description);
/* Delay of every call, in milliseconds. */
SONDAIO_API void SimSetLatency(int milliseconds);
/* Fixes the words a device returns from now on (its signal stops drifting).
 * sn points to 8 raw bytes. Returns 0, or -1 for an unknown device. */
SONDAIO_API int SimSetWords(int16_t port, const unsigned char *sn, int16_t w0, int16_t w1,
                            int16_t w2, int16_t w3);
/* Share of failing calls of one device, 0.0 .. 1.0. Returns 0 or -1. */
SONDAIO_API int SimSetFailRate(int16_t port, const unsigned char *sn, double rate);
/* A silent port fails every device call (IniciarCNX included while silent). */
SONDAIO_API void SimSetPortSilent(int16_t port, int silent);
/* Adds a device to a port (tipo 1..5 as in the device table). Returns 0, or -1
 * when a device of that serial is already there. */
SONDAIO_API int SimAddDevice(int16_t port, int16_t tipo, const unsigned char *sn);
/* The two output words EscribirCTR last wrote to a relay device (0, 0 before
 * any write). Returns the number of EscribirCTR calls it received, -1 when the
 * device is unknown. */
SONDAIO_API long SimRelayWords(int16_t port, const unsigned char *sn, int16_t *out1, int16_t *out2);
/* Number of calls of the given name (for example "LeerTemperatura") made for
 * one device since the last load. sn NULL counts every device of the port;
 * call NULL counts every call name. */
SONDAIO_API long SimCallCount(int16_t port, const unsigned char *sn, const char *call);

/* Called with the call's name (for example "BuscarSensoresTra") by every
 * call that goes out on the network, after its latency and before it is
 * served, on the caller's thread: a test looks at the window at that moment.
 * NULL ends it. SimLoad keeps it. */
typedef void (*SimCallHook)(const char *call, void *context);
SONDAIO_API void SimSetCallHook(SimCallHook hook, void *context);

#ifdef __cplusplus
}
#endif

#endif
