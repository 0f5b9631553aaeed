// What the radio's frequency and mode mean on the entry panel: the band of
// the operator's band list that holds a frequency, and the mode list's
// entry for a mode as Hamlib names it.
#pragma once

#include "data/BandPlan.h"
#include "data/uDM.h"

#include <QStringList>

namespace qardel::rig {

using qardel::planBandOfName;

// The ID of the row of dsBands that holds a frequency in Hz, 0 when none.
// A band whose Begin and End are both set holds the frequencies from Begin
// to End, in kHz, edges included; a band without them holds the band plan's
// band its name stands for. The first band in the list's order that holds
// the frequency wins. The table's cursor does not move.
int bandIdOfFrequency(Table& bands, double hz);

// The entry of the mode list to select for the radio's mode (Hamlib's name:
// "USB", "PKTUSB", "CW", ...), or an empty text to leave the selection as
// it is. USB and LSB are SSB (or USB, LSB where the list has no SSB); CW and
// CWR are CW; AM and its kinds AM; FM, narrow and wide FM; RTTY and RTTYR
// RTTY. The radio's data modes (PKTUSB, PKTLSB, PKTFM) cannot tell which
// digital mode runs: a digital mode already selected stays, and otherwise
// the list's DATA, DIGI or PKT is taken. Letter case does not count; a mode
// the list lacks leaves the selection as it is.
QString modeEntryForRadio(const QString& radioMode, const QStringList& entries,
                          const QString& selected);

} // namespace qardel::rig
