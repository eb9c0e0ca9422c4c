/* The frames the program and the bridge process exchange over their pipe:
 * one request per library call, one answer with the result and every buffer
 * as the library left it. Both directions use one layout, little-endian,
 * written field by field:
 *
 *   u32  bytes that follow
 *   u16  call (1..12; 0 is the bridge's greeting)
 *   u16  sequence number, echoed in the answer
 *   i16  port (request) or result (answer)
 *   i16  out1, i16 out2       EscribirCTR's words
 *   i32  count                a search's maximum count
 *   u8   buffers (0..2), then for each: u16 length and its bytes
 *
 * The greeting is the bridge's first frame: result 0 when the library and
 * its twelve calls were found; otherwise BRIDGE_NO_LIBRARY (count holds the
 * system's error) or BRIDGE_NO_CALL (out1 is the missing call). */
#ifndef BRIDGEWIRE_H
#define BRIDGEWIRE_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#define BRIDGE_GREETING 0
#define BRIDGE_NO_LIBRARY 1
#define BRIDGE_NO_CALL 2

#define WIRE_BUFFERS 2
#define WIRE_BUFFER_MAX 1024
#define WIRE_HEADER 15 /* the fixed fields after the length */
#define WIRE_FRAME_MAX (4 + WIRE_HEADER + WIRE_BUFFERS * (2 + WIRE_BUFFER_MAX))

struct wire_frame {
    uint16_t call;
    uint16_t seq;
    int16_t value; /* port in a request, result in an answer */
    int16_t out1;
    int16_t out2;
    int32_t count;
    uint8_t buffers;
    uint16_t length[WIRE_BUFFERS];
    unsigned char data[WIRE_BUFFERS][WIRE_BUFFER_MAX];
};

static inline unsigned char *wire_put16(unsigned char *p, uint16_t v)
{
    p[0] = (unsigned char)(v & 0xFF);
    p[1] = (unsigned char)(v >> 8);
    return p + 2;
}

static inline unsigned char *wire_put32(unsigned char *p, uint32_t v)
{
    p = wire_put16(p, (uint16_t)(v & 0xFFFF));
    return wire_put16(p, (uint16_t)(v >> 16));
}

static inline uint16_t wire_get16(const unsigned char *p) { return (uint16_t)(p[0] | (p[1] << 8)); }

static inline uint32_t wire_get32(const unsigned char *p)
{
    return (uint32_t)wire_get16(p) | ((uint32_t)wire_get16(p + 2) << 16);
}

/* The whole frame, length first, into out (WIRE_FRAME_MAX bytes); returns
 * its size. */
static inline size_t wire_encode(const struct wire_frame *f, unsigned char *out)
{
    unsigned char *p = out + 4;
    int k;
    p = wire_put16(p, f->call);
    p = wire_put16(p, f->seq);
    p = wire_put16(p, (uint16_t)f->value);
    p = wire_put16(p, (uint16_t)f->out1);
    p = wire_put16(p, (uint16_t)f->out2);
    p = wire_put32(p, (uint32_t)f->count);
    *p++ = f->buffers;
    for (k = 0; k < f->buffers && k < WIRE_BUFFERS; ++k) {
        p = wire_put16(p, f->length[k]);
        memcpy(p, f->data[k], f->length[k]);
        p += f->length[k];
    }
    wire_put32(out, (uint32_t)(p - out - 4));
    return (size_t)(p - out);
}

/* The length a frame announces in its first 4 bytes; more than a frame can
 * hold means the peer is not speaking this protocol. */
static inline int wire_body_length(const unsigned char *head, size_t *length)
{
    *length = wire_get32(head);
    return *length >= WIRE_HEADER && *length <= WIRE_FRAME_MAX - 4 ? 0 : -1;
}

/* The frame from its body (the bytes after the length); -1 when the body is
 * not one whole frame. */
static inline int wire_decode(const unsigned char *body, size_t size, struct wire_frame *f)
{
    const unsigned char *p = body;
    const unsigned char *end = body + size;
    int k;
    if (size < WIRE_HEADER)
        return -1;
    f->call = wire_get16(p);
    f->seq = wire_get16(p + 2);
    f->value = (int16_t)wire_get16(p + 4);
    f->out1 = (int16_t)wire_get16(p + 6);
    f->out2 = (int16_t)wire_get16(p + 8);
    f->count = (int32_t)wire_get32(p + 10);
    f->buffers = p[14];
    p += WIRE_HEADER;
    if (f->buffers > WIRE_BUFFERS)
        return -1;
    for (k = 0; k < f->buffers; ++k) {
        if (end - p < 2)
            return -1;
        f->length[k] = wire_get16(p);
        p += 2;
        if (f->length[k] > WIRE_BUFFER_MAX || end - p < f->length[k])
            return -1;
        memcpy(f->data[k], p, f->length[k]);
        p += f->length[k];
    }
    return p == end ? 0 : -1;
}

#endif
