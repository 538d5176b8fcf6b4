// Exceptions and the small text and file helpers the programs are written against.
#pragma once
#include <exception>
#include <string>

// Root of every error the class library and the programs raise.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A silent exception: ends the current handler without an error box.
class EAbort : public Exception {
    using Exception::Exception;
};
class EOutOfResources : public Exception {
    using Exception::Exception;
};
class EOutOfMemory : public Exception {
    using Exception::Exception;
};
class EConvertError : public Exception {
    using Exception::Exception;
};
class EOSError : public Exception {
public:
    EOSError(std::string message, unsigned long code) : Exception(std::move(message)), code_(code) {}
    unsigned long ErrorCode() const { return code_; }

private:
    unsigned long code_;
};

class EStreamError : public Exception {
    using Exception::Exception;
};
class EFCreateError : public EStreamError {
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
    using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
    using EStreamError::EStreamError;
};
class EResNotFound : public Exception {
    using Exception::Exception;
};

class ERegistryException : public Exception {
    using Exception::Exception;
};
class EInvalidGraphic : public Exception {
    using Exception::Exception;
};
class EInvalidGraphicOperation : public Exception {
    using Exception::Exception;
};
class EInvalidOperation : public Exception {
    using Exception::Exception;
};
class EListError : public Exception {
    using Exception::Exception;
};
class EOleError : public Exception {
    using Exception::Exception;
};
class EOleSysError : public EOleError {
public:
    EOleSysError(std::string message, long hr) : EOleError(std::move(message)), hr_(hr) {}
    long ErrorCode() const { return hr_; }

private:
    long hr_;
};

// The text of a Windows error code, without the trailing line break.
std::string SysErrorMessage(unsigned long code);
// Raises EOSError for GetLastError().
[[noreturn]] void RaiseLastOSError();

std::string IntToStr(long long value);
// A decimal integer with an optional sign, blanks around it allowed; anything else, or a value
// outside 32 bits, raises EConvertError "'text' is not a valid integer value".
int StrToInt(const std::string& text);
// Wide (UTF-16) text to 8-bit text in the ANSI code page.
std::string WideToAnsi(const std::wstring& text);
std::string LowerCase(const std::string& s);
std::string UpperCase(const std::string& s);
std::string Trim(const std::string& s);

// Path helpers on ANSI paths with '\' (and '/') separators and an optional drive.
std::string ExtractFileName(const std::string& path);  // "C:\a\b.swf" -> "b.swf"
std::string ExtractFilePath(const std::string& path);  // "C:\a\b.swf" -> "C:\a\"
std::string ExtractFileExt(const std::string& path);   // "C:\a\b.swf" -> ".swf"; "" when none
std::string ChangeFileExt(const std::string& path, const std::string& ext);
bool FileExists(const std::string& path);
// The path of the running executable and its folder (with a trailing '\').
std::string ExeName();
std::string ExeFolder();

// Command-line arguments as the program got them (index 0 is the program).
int ParamCount();
std::string ParamStr(int index);
