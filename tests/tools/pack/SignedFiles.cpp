#include "SignedFiles.h"

#include "ByteOrder.h"
#include "PeImage.h"

namespace packtest {

namespace {

const Bytes kSignedDataOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const Bytes kIndirectDataOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
const Bytes kPeImageDataOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
const Bytes kSha1Oid = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
const Bytes kSha256Oid = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace

Bytes Der(uint8_t tag, const Bytes& body)
{
    Bytes out = {tag};
    size_t size = body.size();
    if (size < 0x80) {
        out.push_back(uint8_t(size));
    } else if (size < 0x100) {
        out.insert(out.end(), {0x81, uint8_t(size)});
    } else {
        out.insert(out.end(), {0x82, uint8_t(size >> 8), uint8_t(size)});
    }
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes MakeSignatureBlob(const Bytes& digest, pack::DigestAlgorithm algorithm)
{
    const Bytes& hashOid = algorithm == pack::DigestAlgorithm::Sha1 ? kSha1Oid : kSha256Oid;
    Bytes algorithmId = Der(0x30, Join({Der(0x06, hashOid), Der(0x05, {})}));
    Bytes indirect = Der(0x30, Join({Der(0x30, Join({Der(0x06, kPeImageDataOid), Der(0x30, {})})),
                                     Der(0x30, Join({algorithmId, Der(0x04, digest)}))}));
    Bytes content = Der(0x30, Join({Der(0x06, kIndirectDataOid), Der(0xA0, indirect)}));
    // A signer info stands in for the real one: verify does not read it.
    Bytes signerInfos = Der(0x31, Der(0x30, Der(0x02, {1})));
    Bytes signedData = Der(0x30, Join({Der(0x02, {1}), Der(0x31, algorithmId), content, signerInfos}));
    return Der(0x30, Join({Der(0x06, kSignedDataOid), Der(0xA0, signedData)}));
}

Bytes SignUpdater(Bytes updater, pack::DigestAlgorithm algorithm, const Bytes& afterBlob)
{
    updater.resize((updater.size() + 7) / 8 * 8, 0);
    pack::PeInfo pe;
    std::string error;
    pack::ParsePeHeaders(updater.data(), updater.size(), pe, error);
    Bytes digest;
    pack::InputFile input(updater.data(), updater.size());
    pack::ComputeImageDigest(input, pe, updater.size(), algorithm, digest, error);

    Bytes entry(8);
    Bytes blob = MakeSignatureBlob(digest, algorithm);
    entry.insert(entry.end(), blob.begin(), blob.end());
    entry.insert(entry.end(), afterBlob.begin(), afterBlob.end());
    entry.resize((entry.size() + 7) / 8 * 8, 0);
    PutU32At(entry, 0, uint32_t(entry.size()));
    entry[4] = 0x00, entry[5] = 0x02;  // revision 2.0
    entry[6] = 0x02, entry[7] = 0x00;  // PKCS#7 SignedData

    size_t table = updater.size();
    size_t directory = pe.certificateDirectoryOffset;
    PutU32At(updater, directory, uint32_t(table));
    PutU32At(updater, directory + 4, uint32_t(entry.size()));
    updater.insert(updater.end(), entry.begin(), entry.end());
    return updater;
}

}  // namespace packtest
