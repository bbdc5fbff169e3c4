#include "remote/tarn_ftp.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "library.h"
#include "os.h"
#include "utility.h"

namespace orvix {

const char* const Tarn_FTP::kFallbackError =
    "An exception occurred when attempting to create an FTP connection.\r\n"
    "  Please check your internet configuration and make sure your environment\r\n"
    " is set up with WININET.DLL in the path.";

namespace {

// Longest error text passed on from libcurl or the server.
constexpr size_t kMaxErrorText = 1024;
// Longest name kept from a listing line; longer ones are cut (a caller's
// stride cuts them further).
constexpr size_t kMaxListedName = ORVIX_MAX_PATH;

constexpr long kConnectTimeoutSeconds = 30;
constexpr long kResponseTimeoutSeconds = 60;
// A transfer that moves less than a byte a second for this long is dropped.
constexpr long kStallSeconds = 60;

bool HasControlCharacters(const char* s) {
    for (; *s; ++s) {
        const unsigned char c = static_cast<unsigned char>(*s);
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

void CopyField(char* field, size_t capacity, const std::string& value) {
    const size_t n = std::min(value.size(), capacity - 1);
    std::memcpy(field, value.data(), n);
    field[n] = '\0';
}

// Percent-encodes everything but the unreserved characters, so that a remote
// name is one path segment of the URL whatever it holds.
std::string EscapeSegment(const std::string& segment) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : segment) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// Answers of a live server that refuse one file or folder; the connection
// itself is still good.
bool IsRefusal(CURLcode rc) {
    switch (rc) {
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
    case CURLE_QUOTE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
        return true;
    default:
        return false;
    }
}

// "ftp://host[:port]" from the host field, which may name a port but nothing
// else (no user, path, query or fragment). Empty when the field is no host.
std::string ServerUrlOf(const char* hostField) {
    if (!*hostField) return {};
    CURLU* url = curl_url();
    if (!url) return {};
    std::string result;
    const std::string text = std::string("ftp://") + hostField;
    char* host = nullptr;
    char* port = nullptr;
    char* path = nullptr;
    char* part = nullptr;
    if (curl_url_set(url, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host &&
        curl_url_get(url, CURLUPART_USER, &part, 0) == CURLUE_NO_USER &&
        curl_url_get(url, CURLUPART_PASSWORD, &part, 0) == CURLUE_NO_PASSWORD &&
        curl_url_get(url, CURLUPART_OPTIONS, &part, 0) == CURLUE_NO_OPTIONS &&
        curl_url_get(url, CURLUPART_QUERY, &part, 0) == CURLUE_NO_QUERY &&
        curl_url_get(url, CURLUPART_FRAGMENT, &part, 0) == CURLUE_NO_FRAGMENT &&
        curl_url_get(url, CURLUPART_PATH, &path, 0) == CURLUE_OK &&
        std::strcmp(path, "/") == 0) {
        const CURLUcode pc = curl_url_get(url, CURLUPART_PORT, &port, 0);
        if (pc == CURLUE_OK || pc == CURLUE_NO_PORT) {
            result = std::string("ftp://") + host;
            if (pc == CURLUE_OK) result += std::string(":") + port;
        }
    }
    curl_free(part);
    curl_free(path);
    curl_free(port);
    curl_free(host);
    curl_url_cleanup(url);
    return result;
}

}  // namespace

// One request on the connection and what its callbacks need.
struct Tarn_FTP::Request {
    enum class Kind { Login, Get, List, Put };
    Request(Kind k, std::string u) : kind(k), url(std::move(u)) {}

    Kind kind;
    std::string url;
    std::FILE* file = nullptr;  // Get: written to; Put: read from
    int64_t uploadSize = 0;
    bool localFailed = false;
    // List: names kept (at most max), entries seen, the line being read.
    std::vector<std::string>* names = nullptr;
    size_t max = 0;
    size_t entries = 0;
    std::string line;

    void EndLine() {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) {
            ++entries;
            // Hidden entries and the folder's own "." and ".." are no names.
            if (line[0] != '.' && names->size() < max) names->push_back(line);
        }
        line.clear();
    }
};

namespace {

size_t WriteToFile(char* data, size_t size, size_t count, void* user) {
    auto* request = static_cast<Tarn_FTP::Request*>(user);
    const size_t bytes = size * count;
    const size_t written = std::fwrite(data, 1, bytes, request->file);
    if (written != bytes) request->localFailed = true;
    return written;
}

size_t ReadFromFile(char* data, size_t size, size_t count, void* user) {
    auto* request = static_cast<Tarn_FTP::Request*>(user);
    const size_t n = std::fread(data, 1, size * count, request->file);
    if (n == 0 && std::ferror(request->file)) {
        request->localFailed = true;
        return CURL_READFUNC_ABORT;
    }
    return n;
}

size_t CollectNames(char* data, size_t size, size_t count, void* user) {
    auto* request = static_cast<Tarn_FTP::Request*>(user);
    const size_t bytes = size * count;
    for (size_t i = 0; i < bytes; ++i) {
        if (data[i] == '\n')
            request->EndLine();
        else if (request->line.size() < kMaxListedName)
            request->line += data[i];
    }
    return bytes;
}

// Keeps the server's last reply line, whose words explain a refusal.
size_t KeepReply(char* data, size_t size, size_t count, void* user) {
    std::string& reply = *static_cast<std::string*>(user);
    const size_t bytes = size * count;
    reply.assign(data, std::min(bytes, kMaxErrorText));
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
    return bytes;
}

}  // namespace

Tarn_FTP::Tarn_FTP() {
    CopyField(m_Plate, kPlateSize, "plate_00");
    CopyField(m_Host, kHostSize, "localhost");
    CopyField(m_User, kUserSize, "ftp_0000");
    CopyField(m_Password, kPasswordSize, "quillfex");
}

Tarn_FTP::~Tarn_FTP() {
    CloseSession();
    RemoveTmpFiles("", ".cmd");
    RemoveTmpFiles("", ".str");
    if (m_CurlReady) curl_global_cleanup();
}

bool Tarn_FTP::PutServer(const char* info) {
    if (!info) return PostError("Put_Server ServerInfo is NULL");
    if (!*info) {
        m_Plate[0] = m_Host[0] = m_User[0] = m_Password[0] = '\0';
        return false;
    }
    struct Field {
        const char* name;
        char* value;
        size_t capacity;
    };
    const Field fields[4] = {{"plate", m_Plate, kPlateSize},
                             {"host", m_Host, kHostSize},
                             {"user", m_User, kUserSize},
                             {"password", m_Password, kPasswordSize}};
    std::vector<std::string> parts;
    std::string part;
    for (const char* p = info;; ++p) {
        if (*p == ',' || *p == '\0') {
            parts.push_back(part);
            part.clear();
            if (*p == '\0') break;
        } else {
            part += *p;
        }
    }
    // The whole text is checked before anything is stored: a field is never
    // cut (a shortened password would fail later, far from its cause), and a
    // password holding a comma would spill into a fifth field.
    for (size_t i = 4; i < parts.size(); ++i)
        if (!parts[i].empty())
            return PostError("Put_Server: more than four fields in the server information");
    for (size_t i = 0; i < parts.size() && i < 4; ++i) {
        if (parts[i].size() >= fields[i].capacity)
            return PostError("Put_Server: %s longer than %zu characters", fields[i].name,
                             fields[i].capacity - 1);
        if (HasControlCharacters(parts[i].c_str()))
            return PostError("Put_Server: %s holds control characters", fields[i].name);
    }
    for (size_t i = 0; i < parts.size() && i < 4; ++i)
        if (!parts[i].empty()) CopyField(fields[i].value, fields[i].capacity, parts[i]);
    return false;
}

const char* Tarn_FTP::GetServer() {
    for (char* field : {m_Host, m_User, m_Password})
        if (!*field) std::strcpy(field, "NONE");
    m_ServerText = std::string(m_Host) + "," + m_User + "," + m_Password;
    return m_ServerText.c_str();
}

bool Tarn_FTP::OpenFTP() {
    if (m_pFtpConnection) return false;
    if (!m_CurlReady) {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            return PostError("Tarn_FTP::OpenFTP: the FTP client cannot start");
        m_CurlReady = true;
    }
    // Each opening takes the server information as it is now, so that a
    // client that names another server reaches it.
    const std::string url = ServerUrlOf(m_Host);
    if (url.empty()) return PostError("Tarn_FTP::OpenFTP:Invalid Server URL");
    m_pFtpConnection = curl_easy_init();
    if (!m_pFtpConnection) {
        ProcFTPErr("");
        return true;
    }
    m_ServerUrl = url;
    m_ConnUser = m_User;
    m_ConnPassword = m_Password;
    m_RemoteSegments.clear();
    // Logging in now makes a wrong host, user or password fail here.
    Request login{Request::Kind::Login, m_ServerUrl + "/"};
    return Perform(login, "OpenFTP") != Transfer::Done;
}

void Tarn_FTP::CloseSession() {
    if (m_pFtpConnection) curl_easy_cleanup(m_pFtpConnection);
    m_pFtpConnection = nullptr;
    // The password is not kept longer than the connection needs it.
    m_ConnPassword.assign(m_ConnPassword.size(), '\0');
    m_ConnPassword.clear();
}

void Tarn_FTP::ProcFTPErr(const std::string& text) {
    if (text.empty())
        PostError("Tarn_FTP::ProcFTPErr: - %s", kFallbackError);
    else
        PostError("Tarn_FTP::ProcFTPErr(..)FTP Connection Error %s",
                  text.substr(0, kMaxErrorText).c_str());
}

void Tarn_FTP::Configure(Request& request) {
    CURL* h = m_pFtpConnection;
    // A reset keeps the live connection; only the options start afresh.
    curl_easy_reset(h);
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(h, CURLOPT_USERNAME, m_ConnUser.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, m_ConnPassword.c_str());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, m_CurlError);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, KeepReply);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &m_LastReply);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, kResponseTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    // Passive mode (no FTPPORT), data connections only to the server itself.
    curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    // "." and ".." segments go to the server as they are, like a folder
    // change would.
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);  // binary
    switch (request.kind) {
    case Request::Kind::Login:
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        break;
    case Request::Kind::Get:
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, WriteToFile);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &request);
        break;
    case Request::Kind::List:
        curl_easy_setopt(h, CURLOPT_DIRLISTONLY, 1L);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectNames);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &request);
        break;
    case Request::Kind::Put:
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadFromFile);
        curl_easy_setopt(h, CURLOPT_READDATA, &request);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE,
                         static_cast<curl_off_t>(request.uploadSize));
        break;
    }
}

Tarn_FTP::Transfer Tarn_FTP::Perform(Request& request, const char* who) {
    if (!m_pFtpConnection) {
        PostError("Tarn_FTP::%s: m_pFtpConnection is NULL, call Open_Inet first", who);
        return Transfer::Failed;
    }
    Configure(request);
    m_CurlError[0] = '\0';
    m_LastReply.clear();
    const CURLcode rc = curl_easy_perform(m_pFtpConnection);
    if (rc == CURLE_OK) return Transfer::Done;
    if (request.localFailed) return Transfer::LocalError;
    if (IsRefusal(rc) && request.kind != Request::Kind::Login) return Transfer::Refused;
    std::string text = m_CurlError[0] ? m_CurlError : curl_easy_strerror(rc);
    if (!m_LastReply.empty() && (m_LastReply[0] == '4' || m_LastReply[0] == '5') &&
        text.find(m_LastReply) == std::string::npos)
        text += " (" + m_LastReply + ")";
    ProcFTPErr(text);
    CloseSession();
    return Transfer::Failed;
}

std::vector<std::string> Tarn_FTP::ResolveRemote(const std::string& path) const {
    // Server paths separate with '/' whatever the local system uses; any
    // other character, a backslash too, belongs to a segment's name.
    constexpr char kRemoteSeparator = '/';
    std::vector<std::string> segments;
    if (path.empty() || path[0] != kRemoteSeparator) segments = m_RemoteSegments;
    else segments = {"/"};  // from the server's root
    std::string segment;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == kRemoteSeparator) {
            if (!segment.empty() && segment != ".") segments.push_back(segment);
            segment.clear();
        } else {
            segment += path[i];
        }
    }
    return segments;
}

std::string Tarn_FTP::RemoteDir() const {
    std::string text;
    for (const std::string& segment : m_RemoteSegments) {
        if (!text.empty() && text.back() != '/') text += '/';
        text += segment;
    }
    return text;
}

std::string Tarn_FTP::RemoteUrl(const std::string& path, bool asFolder) const {
    if (HasControlCharacters(path.c_str())) return {};
    const std::vector<std::string> segments = ResolveRemote(path);
    std::string url = m_ServerUrl + "/";
    size_t first = 0;
    if (!segments.empty() && segments[0] == "/") {
        url += "%2F";
        first = 1;
    }
    for (size_t i = first; i < segments.size(); ++i) {
        if (i > first) url += '/';
        url += EscapeSegment(segments[i]);
    }
    if (asFolder) {
        if (url.back() != '/') url += '/';
    } else if (segments.size() == first) {
        return {};  // no file named
    }
    return url;
}

Tarn_FTP::Transfer Tarn_FTP::Download(const std::string& remote, const std::string& local) {
    Request request{Request::Kind::Get, RemoteUrl(remote, false)};
    if (request.url.empty()) return Transfer::Refused;
    // The download lands in a new file beside local and replaces it only
    // when complete, so that a broken transfer never leaves a partial file
    // that a later call would take for the real one.
    std::string partial;
    for (int i = 0; i < 100 && !request.file; ++i) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".part%d", i);
        partial = local + suffix;
        request.file = os::CreateNewFile(partial);
    }
    if (!request.file) {
        PostError("Tarn_FTP::GetRemoteFile: cannot write %s", local.c_str());
        return Transfer::LocalError;
    }
    Transfer result = Perform(request, "GetRemoteFile");
    if (std::fclose(request.file) != 0 && result == Transfer::Done) result = Transfer::LocalError;
    if (result == Transfer::Done && !os::RenameFile(partial, local)) result = Transfer::LocalError;
    if (result != Transfer::Done) os::RemoveFile(partial);
    if (result == Transfer::LocalError)
        PostError("Tarn_FTP::GetRemoteFile: cannot write %s", local.c_str());
    return result;
}

bool Tarn_FTP::GetRemoteFile(const char* remote, const char* local, int seconds) {
    OpenFTP();
    if (!m_pFtpConnection)
        return PostError("Tarn_FTP::GetRemoteFile: m_pFtpConnection is NULL, call Open_Inet first");
    Library& lib = Lib();
    if (lib.tempPath.empty()) lib.tempPath = os::SystemTempFolder();
    if (lib.tempPath.empty()) return PostError("Tarn_FTP::GetRemoteFile:Can't determine TEMP path");
    if (!remote || !*remote || !local || !*local)
        return PostError("Tarn_FTP::GetRemoteFile: remote and local names are needed");
    // Tried 10 x seconds times, 100 ms apart, so that a caller can wait for
    // a file the server is still making.
    for (int64_t n = 10 * static_cast<int64_t>(seconds);; --n) {
        switch (Download(remote, local)) {
        case Transfer::Done:
            return false;
        case Transfer::LocalError:
        case Transfer::Failed:
            return true;
        case Transfer::Refused:
            break;
        }
        if (n <= 1)
            return PostError("Tarn_FTP::GetRemoteFile: faild in obtaining %s from the Server",
                             remote);
        os::SleepMilliseconds(100);
    }
}

Tarn_FTP::Transfer Tarn_FTP::List(const std::string& folder, std::vector<std::string>& names,
                                  size_t max) {
    Request request{Request::Kind::List, RemoteUrl(folder, true)};
    if (request.url.empty()) return Transfer::Refused;
    request.names = &names;
    request.max = max;
    const Transfer result = Perform(request, "GetRemoteDir");
    if (result == Transfer::Done && !request.line.empty()) request.EndLine();
    return result;
}

bool Tarn_FTP::OpenInet() {
    Library& lib = Lib();
    if (lib.tempPath.empty()) lib.tempPath = os::SystemTempFolder();
    if (lib.tempPath.empty()) return PostError("OPen_Inet: Can't determine TEMP path");
    return OpenFTP();
}

bool Tarn_FTP::GetRemoteDir(const char* folder, char* out, int stride, int max) {
    if (!out || stride <= 0)
        return PostError("GetRemoteDir: no table for the names (stride %d)", stride);
    const std::string name = folder ? folder : "";
    if (OpenInet() || !m_pFtpConnection) return true;
    // The listing runs in folder as the remote current folder, which is
    // restored afterwards.
    const std::vector<std::string> saved = m_RemoteSegments;
    m_RemoteSegments = ResolveRemote(name);
    std::vector<std::string> names;
    const Transfer result = List("", names, max > 0 ? static_cast<size_t>(max) : 0);
    m_RemoteSegments = saved;
    if (result == Transfer::Failed) return true;
    if (result != Transfer::Done)
        return PostError("GetRemoteDir::Failed to Open Remote Directory [ %s ] ", name.c_str());
    // Each name is cut to its slot, so a long name never runs into the next
    // slot or past the table.
    const size_t slot = static_cast<size_t>(stride);
    for (size_t k = 0; k < names.size(); ++k) {
        char* dest = out + k * slot;
        const size_t n = std::min(names[k].size(), slot - 1);
        std::memcpy(dest, names[k].data(), n);
        dest[n] = '\0';
    }
    return false;
}

Tarn_FTP::Transfer Tarn_FTP::SendFile(const std::string& local, const std::string& remotePath) {
    Request request{Request::Kind::Put, RemoteUrl(remotePath, false)};
    if (request.url.empty()) return Transfer::Refused;
    const os::FileStatus st = os::Stat(local);
    if (!st.exists || st.isDirectory || !(request.file = std::fopen(local.c_str(), "rb"))) {
        PostError("Tarn_FTP::SendFile: cannot open %s", local.c_str());
        return Transfer::LocalError;
    }
    request.uploadSize = st.size;
    Transfer result = Perform(request, "SendFile");
    std::fclose(request.file);
    if (result == Transfer::LocalError) PostError("Tarn_FTP::SendFile: cannot read %s", local.c_str());
    return result;
}

bool Tarn_FTP::RemoveTmpFiles(const std::string& folder, const std::string& marker) {
    if (marker.empty())
        return Lib().utility->DeleteWorkingFiles(folder, Utility::WorkingFileMarkers(),
                                                 "Tarn_FTP::RemoveTmpFiles");
    return Lib().utility->DeleteWorkingFiles(folder, {marker}, "Tarn_FTP::RemoveTmpFiles");
}

}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX_API bool OPen_Inet(void) {
    ClearError();
    return Lib().ftp->OpenInet();
}

ORVIX_API bool Close_Inet(void) {
    Lib().ftp->CloseSession();
    return false;
}

ORVIX_API bool Put_Server(const char* info) {
    ClearError();
    return Lib().ftp->PutServer(info);
}

ORVIX_API const char* Get_Server(void) {
    ClearError();
    return Lib().ftp->GetServer();
}

ORVIX_API bool Get_Remote_File(const char* remote, const char* local, int seconds) {
    ClearError();
    if (!remote || !*remote || !local || !*local)
        return PostError("CCOM_Zul_Obj_010::Get_Remote_File(..) remote and local names are needed");
    if (std::strlen(remote) >= ORVIX_MAX_PATH || std::strlen(local) >= ORVIX_MAX_PATH)
        return PostError("CCOM_Zul_Obj_010::Get_Remote_File(..) name longer than %d characters",
                         ORVIX_MAX_PATH - 1);
    if (Utility::FileExists(local))
        return PostError("CCOM_Zul_Obj_010::Get_Remote_File(..) File %s exists", local);
    if (Lib().ftp->GetRemoteFile(remote, local, seconds))
        return PostError("BAD CCOM_Zul_Obj_010::Get_Remote_File remote=%s local=%s FAILED\n",
                         remote, local);
    return false;
}

ORVIX_API bool GetRemoteDir(const char* folder, char* out, int stride, int max) {
    ClearError();
    return Lib().ftp->GetRemoteDir(folder, out, stride, max);
}

}  // extern "C"
