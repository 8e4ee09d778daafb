// Signed updaters made in memory: a PKCS#7 SignedData frame that carries an Authenticode
// SpcIndirectDataContent with a chosen image digest, and a certificate table holding it behind
// an updater. No real signature value is made: verify compares digests only.
#pragma once

#include "Authenticode.h"
#include "TestFiles.h"

namespace packtest {

// The DER encoding of one element.
Bytes Der(uint8_t tag, const Bytes& body);

// A ContentInfo whose SpcIndirectDataContent names `digest`, made with `algorithm`.
Bytes MakeSignatureBlob(const Bytes& digest, pack::DigestAlgorithm algorithm);

// Signs a PE32 updater made with MakeImage as a signing tool does: pads the file to 8 bytes,
// hashes it, and appends a certificate table with one WIN_CERTIFICATE entry padded to 8 bytes,
// pointed at by the security directory. `afterBlob` bytes are put behind the signature inside
// the entry (and counted in its length and the table's), as a tampering tool would.
Bytes SignUpdater(Bytes updater, pack::DigestAlgorithm algorithm = pack::DigestAlgorithm::Sha256,
                  const Bytes& afterBlob = {});

}  // namespace packtest
