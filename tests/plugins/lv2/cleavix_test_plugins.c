/* Small LV2 plug-ins with exactly known output, for the plug-in bridge's tests. */
#include <lv2/core/lv2.h>

#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define BASE "urn:cleavix-test:"

enum { GAIN, SPLIT, DELAY, NAN_OUT, INVERT, SWAP, NEEDS_FEATURE, INSTRUMENT, ANALYSER, KINDS };

#define DELAY_FRAMES 64

typedef struct {
    int kind;
    float* port[8];
    float line[DELAY_FRAMES];
    uint32_t at;
    uint64_t count;
} Plugin;

static int kindOf(const LV2_Descriptor* d);

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* bundle,
                              const LV2_Feature* const* features) {
    (void)rate;
    (void)bundle;
    (void)features;
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
    case GAIN: /* 0 gain, 1 in, 2 out */
    case INSTRUMENT:
        for (i = 0; i < n; ++i) {
            q[2][i] = q[1][i] * *q[0];
        }
        break;
    case SPLIT: /* 0 in, 1 left = in, 2 right = -in / 2; 3 cutoff (a fraction of the rate) is not read */
        for (i = 0; i < n; ++i) {
            q[1][i] = q[0][i];
            q[2][i] = -q[0][i] * 0.5f;
        }
        break;
    case DELAY: /* 0 in, 1 out, 2 latency */
        for (i = 0; i < n; ++i) {
            const float x = q[0][i];
            q[1][i] = p->line[p->at];
            p->line[p->at] = x;
            p->at = (p->at + 1) % DELAY_FRAMES;
        }
        *q[2] = DELAY_FRAMES;
        break;
    case NAN_OUT: /* 0 in, 1 out: NaN, four times the input, infinity, the input, in turn */
        for (i = 0; i < n; ++i, ++p->count) {
            switch (p->count % 4) {
            case 0:
                q[1][i] = NAN;
                break;
            case 1:
                q[1][i] = q[0][i] * 4.0f;
                break;
            case 2:
                q[1][i] = -INFINITY;
                break;
            default:
                q[1][i] = q[0][i];
                break;
            }
        }
        break;
    case INVERT: /* 0 in, 1 out */
    case ANALYSER:
        for (i = 0; i < n; ++i) {
            if (p->kind == INVERT) {
                q[1][i] = -q[0][i];
            }
        }
        break;
    case SWAP: /* 0 left in, 1 right in, 2 left out, 3 right out, 4 swap, 5 level, 6 peak out, 7 cv in;
                  8 (atom in) is not read */
        for (i = 0; i < n; ++i) {
            const float l = q[0][i] * *q[5] + q[7][i];
            const float r = q[1][i] * *q[5];
            q[2][i] = *q[4] > 0.5f ? r : l;
            q[3][i] = *q[4] > 0.5f ? l : r;
        }
        *q[6] = 1.0f;
        break;
    case NEEDS_FEATURE:
        for (i = 0; i < n; ++i) {
            q[1][i] = q[0][i];
        }
        break;
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
    DESCRIPTOR("gain"),   DESCRIPTOR("split"), DESCRIPTOR("delay"),      DESCRIPTOR("nan"),
    DESCRIPTOR("invert"), DESCRIPTOR("swap"),  DESCRIPTOR("needs-feature"), DESCRIPTOR("instrument"),
    DESCRIPTOR("analyser"),
};

static int kindOf(const LV2_Descriptor* d) { return (int)(d - descriptors); }

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index < KINDS ? &descriptors[index] : NULL;
}
