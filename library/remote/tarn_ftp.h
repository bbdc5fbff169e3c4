// The remote image server client: server information, one FTP connection
// (a libcurl easy handle that keeps its control connection between
// transfers), downloads, uploads, remote folder listings and the clean-up of
// the library's working files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef void CURL;

namespace orvix {

class Tarn_FTP {
public:
    // Capacities of the server information fields, terminator included.
    static constexpr size_t kPlateSize = 32;
    static constexpr size_t kHostSize = 128;
    static constexpr size_t kUserSize = 32;
    static constexpr size_t kPasswordSize = 128;

    // Outcome of one transfer.
    enum class Transfer {
        Done,
        Refused,     // the server answered but refused (missing file or
                     // folder, no permission); nothing posted
        LocalError,  // the local file could not be read or written; posted
        Failed,      // the connection failed; reported by ProcFTPErr and the
                     // connection closed
    };

    Tarn_FTP();
    virtual ~Tarn_FTP();
    Tarn_FTP(const Tarn_FTP&) = delete;
    Tarn_FTP& operator=(const Tarn_FTP&) = delete;

    // Server information.
    bool PutServer(const char* info);
    const char* GetServer();
    const char* Plate() const { return m_Plate; }
    const char* Host() const { return m_Host; }
    const char* User() const { return m_User; }
    const char* Password() const { return m_Password; }

    // Logs in unless a connection exists. True on failure.
    bool OpenFTP();
    // OPen_Inet's work: the temporary folder made known, then OpenFTP.
    bool OpenInet();
    // Closes the connection; the next remote call opens a new one.
    void CloseSession();
    bool Connected() const { return m_pFtpConnection != nullptr; }

    // Reports a connection failure with its text (libcurl's and the
    // server's words).
    void ProcFTPErr(const std::string& text);

    // Downloads remote (relative to the remote current folder) to local,
    // replacing it, in 10 x seconds attempts 100 ms apart. True on failure.
    bool GetRemoteFile(const char* remote, const char* local, int seconds);
    // Lists folder into out (one name per stride bytes, at most max names,
    // names beginning with "." skipped). True on failure.
    bool GetRemoteDir(const char* folder, char* out, int stride, int max);
    // Uploads the local file, in binary, to remotePath (relative to the
    // remote current folder). Needs a connection; a refusal posts nothing,
    // so that the caller words it.
    Transfer SendFile(const std::string& local, const std::string& remotePath);

    // Reads a header file into the library's current header and reports the
    // image's size. True on failure ("Tarn_FTP::ReadHeader: Failed").
    bool ReadHeader(const char* header, int* width, int* height);
    // Uploads the current command file into the server's "./Commands/"
    // folder. A failed upload closes the session. True on failure.
    bool SendCommandToServer();

    // Deletes working files from folder (the temporary folder when empty):
    // with an empty marker those with any of the library's markers in their
    // names, otherwise those with marker in their names. True on failure.
    bool RemoveTmpFiles(const std::string& folder, const std::string& marker);

    // The remote current folder: relative to the login folder ("" there),
    // or from the server's root when it starts with "/".
    std::string RemoteDir() const;

    // One request on the connection (defined with the transfer code).
    struct Request;

    // The text reported when a failure comes without any words of its own.
    static const char* const kFallbackError;

private:
    Transfer Perform(Request& request, const char* who);
    Transfer Download(const std::string& remote, const std::string& local);
    Transfer List(const std::string& folder, std::vector<std::string>& names,
                  size_t max);
    // The URL of a remote path taken relative to the remote current folder;
    // asFolder ends it with "/". Empty when the path names nothing.
    std::string RemoteUrl(const std::string& path, bool asFolder) const;
    std::vector<std::string> ResolveRemote(const std::string& path) const;
    void Configure(Request& request);

    char m_Plate[kPlateSize];
    char m_Host[kHostSize];
    char m_User[kUserSize];
    char m_Password[kPasswordSize];

    CURL* m_pFtpConnection = nullptr;
    bool m_CurlReady = false;
    // What the open connection was made with; transfers use these, not
    // server information changed after the opening.
    std::string m_ServerUrl;  // "ftp://host[:port]"
    std::string m_ConnUser;
    std::string m_ConnPassword;
    std::vector<std::string> m_RemoteSegments;  // remote current folder
    std::string m_LastReply;  // the server's last reply line
    char m_CurlError[256] = {};

    std::string m_ServerText;  // Get_Server's result
};

}  // namespace orvix
