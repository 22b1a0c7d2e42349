/* LV2 plug-ins that misbehave on purpose, for the host's hostile-input tests: odd port layouts,
 * ranges that are no ranges, absurd output and latency reports, and one that will not start. */
#include <lv2/core/lv2.h>

#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define BASE "urn:cleavix-hostile:"

enum { NO_AUDIO, THREE_IN, WILD, REFUSES, LOUD, LATE, GHOST, KINDS };

#define LINE 8192

typedef struct {
    int kind;
    float* port[8];
    float line[LINE];
    uint32_t at;
    uint64_t count;
} Plugin;

static int kindOf(const LV2_Descriptor* d);

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* bundle,
                              const LV2_Feature* const* features) {
    (void)rate;
    (void)bundle;
    (void)features;
    if (kindOf(d) == REFUSES) {
        return NULL;
    }
    Plugin* p = (Plugin*)calloc(1, sizeof(Plugin));
    if (p != NULL) {
        p->kind = kindOf(d);
    }
    return p;
}

static void connect(LV2_Handle h, uint32_t port, void* data) {
    Plugin* p = (Plugin*)h;
    if (port < 8) {
        p->port[port] = (float*)data;
    }
}

static void activate(LV2_Handle h) {
    Plugin* p = (Plugin*)h;
    memset(p->line, 0, sizeof p->line);
    p->at = 0;
    p->count = 0;
}

static void run(LV2_Handle h, uint32_t n) {
    Plugin* p = (Plugin*)h;
    float** q = p->port;
    uint32_t i;
    switch (p->kind) {
    case NO_AUDIO: /* 0 control in, 1 control out */
        *q[1] = *q[0];
        break;
    case THREE_IN: /* 0, 1, 2 in, 3 out = their sum */
        for (i = 0; i < n; ++i) {
            q[3][i] = q[0][i] + q[1][i] + q[2][i];
        }
        break;
    case WILD: /* 0 in, 1 out = in * gain; 2 gain, 3 huge, 4 mode, 5 onoff, 6 count, 7 cutoff (not read) */
        for (i = 0; i < n; ++i) {
            q[1][i] = q[0][i] * *q[2];
        }
        break;
    case LOUD: /* 0 in, 1 out: a million times the input, then +inf, NaN, -1e30, 1e30 in turn */
        for (i = 0; i < n; ++i, ++p->count) {
            switch (p->count % 5) {
            case 0:
                q[1][i] = q[0][i] * 1.0e6f;
                break;
            case 1:
                q[1][i] = INFINITY;
                break;
            case 2:
                q[1][i] = NAN;
                break;
            case 3:
                q[1][i] = -1.0e30f;
                break;
            default:
                q[1][i] = 1.0e30f;
                break;
            }
        }
        break;
    case LATE: { /* 0 in, 1 out, 2 latency out, 3 report in: delays by report frames (held to the
                    line) and reports report as its latency, whatever it is */
        const float report = *q[3];
        const uint32_t delay = report > 0 && report < LINE ? (uint32_t)report : 0;
        for (i = 0; i < n; ++i) {
            p->line[p->at] = q[0][i];
            q[1][i] = p->line[(p->at + LINE - delay) % LINE];
            p->at = (p->at + 1) % LINE;
        }
        *q[2] = report;
        break;
    }
    default:
        break;
    }
}

static void cleanup(LV2_Handle h) { free(h); }

static const void* extension(const char* uri) {
    (void)uri;
    return NULL;
}

#define DESCRIPTOR(name) {BASE name, instantiate, connect, activate, run, NULL, cleanup, extension}

static const LV2_Descriptor descriptors[KINDS] = {
    DESCRIPTOR("no-audio"), DESCRIPTOR("three-in"), DESCRIPTOR("wild"),  DESCRIPTOR("refuses"),
    DESCRIPTOR("loud"),     DESCRIPTOR("late"),     DESCRIPTOR("ghost"),
};

static int kindOf(const LV2_Descriptor* d) { return (int)(d - descriptors); }

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    /* "ghost" is described but never handed out: its library has no such plug-in. */
    return index < KINDS && index != GHOST ? &descriptors[index] : NULL;
}
