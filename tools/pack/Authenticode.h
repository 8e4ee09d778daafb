// The two halves of an Authenticode check that need no trust decisions: the image digest that
// a signature claims (read from the SpcIndirectDataContent inside its PKCS#7 SignedData), and
// the digest of the image as it is. Whether the signature itself and its certificate chain
// are valid is left to the platform's tools (osslsigncode verify, signtool verify).
#pragma once

#include "ByteOrder.h"
#include "InputFile.h"
#include "PeImage.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pack {

enum class DigestAlgorithm { Sha1, Sha256 };

// "SHA-1" or "SHA-256".
const char* DigestAlgorithmName(DigestAlgorithm algorithm);

struct SignedDigest {
    DigestAlgorithm algorithm = DigestAlgorithm::Sha256;
    Bytes digest;
    size_t blobSize = 0;  // the PKCS#7 ContentInfo's encoded size; what follows it is not part of it
};

// Reads the PKCS#7 ContentInfo at the start of `data` (a WIN_CERTIFICATE's bCertificate and
// whatever follows it). False with a one-line reason when it is not a DER-encoded Authenticode
// signature of a PE image with a SHA-1 or SHA-256 digest.
bool ReadSignedDigest(const uint8_t* data, size_t size, SignedDigest& signedDigest, std::string& error);

// The Authenticode digest of the image's first `end` bytes (the certificate table's offset):
// everything but the PE checksum and the certificate table's directory entry.
bool ComputeImageDigest(InputFile& input, const PeInfo& pe, uint64_t end, DigestAlgorithm algorithm, Bytes& digest,
                        std::string& error);

}  // namespace pack
