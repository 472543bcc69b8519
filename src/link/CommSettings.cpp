// The line-event flags of the settings record's events.
#include "link/CommSettings.h"

uint32_t EventFlag(TEvent Event) {
    switch (Event) {
    case evRxChar:
        return EV_RXCHAR;
    case evTxEmpty:
        return EV_TXEMPTY;
    case evRxFlag:
        return EV_RXFLAG;
    case evRing:
        return EV_RING;
    case evBreak:
        return EV_BREAK;
    case evCTS:
        return EV_CTS;
    case evDSR:
        return EV_DSR;
    case evError:
        return EV_ERR;
    case evRLSD:
        return EV_RLSD;
    case evRx80Full:
        return EV_RX80FULL;
    }
    return 0;
}

uint32_t EventMask(TEvents Events) {
    uint32_t mask = 0;
    for (int e = evRxChar; e <= evRx80Full; ++e)
        if (Events.Contains(static_cast<TEvent>(e)))
            mask |= EventFlag(static_cast<TEvent>(e));
    return mask;
}
