#pragma once
// The XML documents of the S3 API that the store reads, parsed with libxml2. Element names
// are matched without their namespace: S3 and the servers compatible with it differ there.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brevanto {

struct S3ErrorText {
  std::string Code;  // "SignatureDoesNotMatch", ...; "" when the body is no <Error>
  std::string Message;
};
// An <Error> document (S3 sends one with a failed request, and some with HTTP 200).
S3ErrorText ParseS3Error(std::string_view body);

struct S3ListPage {
  struct Entry {
    std::string Key;
    std::uint64_t Size = 0;
  };
  std::vector<Entry> Entries;
  bool Truncated = false;
  std::string NextToken;  // NextContinuationToken
};
// A ListObjectsV2 result; false when the body is not one.
bool ParseS3ListPage(std::string_view body, S3ListPage& page);

// The UploadId of an InitiateMultipartUploadResult; "" when there is none.
std::string ParseS3UploadId(std::string_view body);

// Text for an XML element's content: & < > escaped.
std::string S3XmlEscape(std::string_view text);

}  // namespace brevanto
