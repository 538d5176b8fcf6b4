// The fixed texts of the library's errors, warnings and progress reports.
#pragma once

inline constexpr const char* sPrematureEndOfData = "Premature end of data";
inline constexpr const char* sInvalidSignature = "Invalid GIF signature";
inline constexpr const char* sUnsupportedVersion = "Unsupported GIF version";
inline constexpr const char* sUnknownBlockType = "Unknown GIF block type";
inline constexpr const char* sInvalidTrailer = "Invalid Image trailer";
inline constexpr const char* sOutOfResources = "Out of system resources";

inline constexpr const char* sColorTableOverflow = "Color table overflow";
inline constexpr const char* sInvalidColorIndex = "Invalid color index";
inline constexpr const char* sColorTableEmpty = "Color table is empty";

inline constexpr const char* sInvalidIntroducer = "Invalid extension introducer";
inline constexpr const char* sUnknownExtension = "Unknown extension type";
inline constexpr const char* sExtensionMismatch = "Internal error: Extension Instance does not match Extension Label";
inline constexpr const char* sUnsupportedAppBlockSize = "Unsupported Application Extension block size";
inline constexpr const char* sInvalidData = "Invalid GIF data";

inline constexpr const char* sScreenSizeExceeded = "Image exceeds Logical Screen size";
inline constexpr const char* sInvalidPixelCoordinates = "Invalid pixel coordinates";
inline constexpr const char* sImageEmpty = "Image is empty";
inline constexpr const char* sWidthTooSmall = "Image width too small for contained frames";
inline constexpr const char* sHeightTooSmall = "Image height too small for contained frames";
// A frame whose width times height cannot be held in memory.
inline constexpr const char* sImageTooLarge = "Image is too large";

inline constexpr const char* sCircularTable = "Circular decoder table entry";
inline constexpr const char* sBitBufferUnderrun = "Decoder bit buffer under-run";

inline constexpr const char* sUnsupportedObject = "Object type not supported for operation";
inline constexpr const char* sNoColorTable = "No global or local color table defined";
inline constexpr const char* sUnsupportedClipboardFormat = "Unsupported clipboard format";
inline constexpr const char* sClipboardStoreFailed = "Failed to store GIF on clipboard";

// The name of the file format and of the clipboard format.
inline constexpr const char* sGIFImage = "GIF Image";

inline constexpr const char* sProgressLoading = "Loading...";
inline constexpr const char* sProgressSaving = "Saving...";
inline constexpr const char* sProgressCopying = "Copying...";
inline constexpr const char* sProgressRendering = "Rendering...";
inline constexpr const char* sProgressConverting = "Converting...";
inline constexpr const char* sProgressOptimizing = "Optimizing...";

inline constexpr const char* sInvalidReductionMethod = "Invalid reduction method";
inline constexpr const char* sNoDitherLookup = "No color lookup for dithering";

// The encoders' errors: a pixel outside its table, and a read or seek on the write-only stream.
inline constexpr const char* sColorNotInColorTable = "Color not in color table";
inline constexpr const char* sInvalidStreamOperation = "Invalid stream operation";

inline constexpr const char* sUnsupportedPixelFormat = "Unsupported PixelFormat";
inline constexpr const char* sInvalidImageDimensions = "Invalid image dimensions";
inline constexpr const char* sDIBAllocationFailed = "Failed to allocate memory for GIF DIB";
