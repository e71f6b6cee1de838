#pragma once
#include "DeviceLink.h"

namespace vantor {

// A port that went away and came back may have another instrument on it: the
// cable was moved to another one under the same COM number. `opener` wrapped
// so that, when `link` opens its lost port again, it first asks whatever is
// there who it is, with the reads of the connection (variables 12 and 10),
// and puts the answers into the link's values before the request that
// reopened the port goes out; whatever the link then reads and keeps is the
// new instrument's. A port where the two reads do not both succeed counts
// as not back yet: the link tries it again at its next exchange. So does
// one with another instrument on it (other device data or firmware than the
// link's values held): the request that found it was made for the one
// before and does not go out, and the next exchange reaches the new one.
// Opening a port afresh (OpenPort) asks nothing.
//
// The reads run on a link of their own over the same line, as the link is in
// the middle of an exchange; they report no outcome rows. `link` must
// outlive the opener.
DeviceLink::LineOpener IdentifyingOnReturn(DeviceLink& link, DeviceLink::LineOpener opener);

}  // namespace vantor
