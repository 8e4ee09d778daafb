// Authenticode facts used here, from Microsoft's "Windows Authenticode Portable Executable
// Signature Format": the image digest covers the whole file up to the certificate table except
// the optional header's CheckSum field and the certificate table's data directory entry; the
// signature is a PKCS#7 SignedData whose content, of type SpcIndirectDataContent, holds that
// digest in a DigestInfo. Signing tools hash the image as one run of bytes in file order,
// which for a linker's image (headers and sections back to back) equals the section-by-section
// description.
#include "Authenticode.h"

#include "Der.h"
#include "Sha1.h"
#include "Sha256.h"

#include <algorithm>

namespace pack {

namespace {

// 1.2.840.113549.1.7.2, PKCS#7 signedData
const uint8_t kSignedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
// 1.3.6.1.4.1.311.2.1.4, SPC_INDIRECT_DATA_OBJID
const uint8_t kSpcIndirectData[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
// 1.3.6.1.4.1.311.2.1.15, SPC_PE_IMAGE_DATAOBJ
const uint8_t kSpcPeImageData[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
// 1.3.14.3.2.26 and 2.16.840.1.101.3.4.2.1
const uint8_t kSha1[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
const uint8_t kSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

constexpr size_t kChunk = 1 << 20;

class Hasher {
public:
    explicit Hasher(DigestAlgorithm algorithm) : algorithm_(algorithm) {}
    void Update(const uint8_t* data, size_t size)
    {
        if (algorithm_ == DigestAlgorithm::Sha1)
            sha1_.Update(data, size);
        else
            sha256_.Update(data, size);
    }
    Bytes Finish()
    {
        if (algorithm_ == DigestAlgorithm::Sha1) {
            auto digest = sha1_.Finish();
            return Bytes(digest.begin(), digest.end());
        }
        auto digest = sha256_.Finish();
        return Bytes(digest.begin(), digest.end());
    }

private:
    DigestAlgorithm algorithm_;
    Sha1 sha1_;
    Sha256 sha256_;
};

bool HashRange(InputFile& input, uint64_t from, uint64_t to, Hasher& hasher)
{
    Bytes chunk(static_cast<size_t>(std::min<uint64_t>(kChunk, to > from ? to - from : 1)));
    while (from < to) {
        size_t take = static_cast<size_t>(std::min<uint64_t>(chunk.size(), to - from));
        if (!input.Read(from, chunk.data(), take))
            return false;
        hasher.Update(chunk.data(), take);
        from += take;
    }
    return true;
}

bool Fail(std::string& error, const char* reason)
{
    error = reason;
    return false;
}

}  // namespace

const char* DigestAlgorithmName(DigestAlgorithm algorithm)
{
    return algorithm == DigestAlgorithm::Sha1 ? "SHA-1" : "SHA-256";
}

bool ReadSignedDigest(const uint8_t* data, size_t size, SignedDigest& signedDigest, std::string& error)
{
    signedDigest = SignedDigest{};
    const char* unreadable = "the signature is not a DER-encoded PKCS#7 SignedData";
    der::Element contentInfo, type, explicitContent, signedData, element;
    der::Reader outer(data, size);
    if (!outer.Expect(der::kSequence, contentInfo))
        return Fail(error, unreadable);
    signedDigest.blobSize = contentInfo.total;

    der::Reader info(contentInfo);
    if (!info.Expect(der::kObjectIdentifier, type) || !der::IsObjectIdentifier(type, kSignedData) ||
        !info.Expect(der::kContext0, explicitContent))
        return Fail(error, unreadable);
    der::Reader wrapped(explicitContent);
    if (!wrapped.Expect(der::kSequence, signedData))
        return Fail(error, unreadable);

    // SignedData: version, digestAlgorithms, then the signed content.
    der::Reader fields(signedData);
    der::Element encapsulated;
    if (!fields.Expect(der::kInteger, element) || !fields.Expect(der::kSet, element) ||
        !fields.Expect(der::kSequence, encapsulated))
        return Fail(error, unreadable);
    der::Reader content(encapsulated);
    der::Element indirect;
    if (!content.Expect(der::kObjectIdentifier, type) || !der::IsObjectIdentifier(type, kSpcIndirectData) ||
        !content.Expect(der::kContext0, explicitContent))
        return Fail(error, "the signature's content is not an Authenticode SpcIndirectDataContent");
    der::Reader indirectWrapped(explicitContent);
    if (!indirectWrapped.Expect(der::kSequence, indirect))
        return Fail(error, "the signature's SpcIndirectDataContent is malformed");

    // SpcIndirectDataContent: the kind of data signed, then a DigestInfo.
    der::Reader indirectFields(indirect);
    der::Element dataKind, digestInfo;
    if (!indirectFields.Expect(der::kSequence, dataKind) || !indirectFields.Expect(der::kSequence, digestInfo))
        return Fail(error, "the signature's SpcIndirectDataContent is malformed");
    der::Reader kind(dataKind);
    if (!kind.Expect(der::kObjectIdentifier, type) || !der::IsObjectIdentifier(type, kSpcPeImageData))
        return Fail(error, "the signature is not one of a PE image");

    der::Reader digestFields(digestInfo);
    der::Element algorithm, digest;
    if (!digestFields.Expect(der::kSequence, algorithm) || !digestFields.Expect(der::kOctetString, digest))
        return Fail(error, "the signature's DigestInfo is malformed");
    der::Reader algorithmFields(algorithm);
    if (!algorithmFields.Expect(der::kObjectIdentifier, type))
        return Fail(error, "the signature's DigestInfo is malformed");
    size_t expectedSize = 0;
    if (der::IsObjectIdentifier(type, kSha256)) {
        signedDigest.algorithm = DigestAlgorithm::Sha256;
        expectedSize = 32;
    } else if (der::IsObjectIdentifier(type, kSha1)) {
        signedDigest.algorithm = DigestAlgorithm::Sha1;
        expectedSize = 20;
    } else {
        return Fail(error, "the signature names a digest algorithm other than SHA-256 or SHA-1");
    }
    if (digest.size != expectedSize)
        return Fail(error, "the signature's digest has the wrong length");
    signedDigest.digest.assign(digest.body, digest.body + digest.size);
    return true;
}

bool ComputeImageDigest(InputFile& input, const PeInfo& pe, uint64_t end, DigestAlgorithm algorithm, Bytes& digest,
                        std::string& error)
{
    uint64_t checksum = pe.checksumOffset;
    uint64_t directory = pe.certificateDirectoryOffset;
    if (end < directory + 8 || end > input.Size()) {
        error = "the certificate table lies inside the image's headers or beyond its end";
        return false;
    }
    Hasher hasher(algorithm);
    if (!HashRange(input, 0, checksum, hasher) || !HashRange(input, checksum + 4, directory, hasher) ||
        !HashRange(input, directory + 8, end, hasher)) {
        error = "reading the image failed";
        return false;
    }
    digest = hasher.Finish();
    return true;
}

}  // namespace pack
