// The design's pages byte for byte as they go on the wire, in the ANSI code page: what the
// server's answers and the page builders are held to.
#pragma once

#include <QByteArray>

inline const QByteArray NotFoundResponse =
    "HTTP/1.0 404 Not found\r\nServer: kelpa/0.01\r\nContent-length: 126\r\nContent-Type: "
    "text/html\r\n\r\n"
    "<html><head><title>HTTP/1.1 404 Not found</title></head><body>HTTP/1.1 404 Not found<br><br>"
    "<a href=\"/\">Home</a></body></html>";

inline const QByteArray LoginErrorResponse =
    "HTTP/1.0 200 OK\r\nServer: kelpa/0.01\r\nContent-length: 128\r\nContent-type: "
    "text/html\r\n\r\n"
    "<html><head><title>kelpa error</title></head><body><center>login error<br><br>"
    "<a href=\"index.htm\">top</a></center></body></html>";

inline const QByteArray EmptyControlResponse =
    "HTTP/1.0 200 OK\r\nServer: kelpa/0.01\r\nContent-length: 236\r\nContent-type: "
    "text/html\r\n\r\n"
    "<html><head><title>kelpa</title><META HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\"></head>"
    "<body><center>kelpa<br><a href=\"0\">|&lt;</a> <a href=\"1\">&gt;</a> <a href=\"2\">||</a> "
    "<a href=\"3\">\x81\xa0</a> <a href=\"4\">&gt;|</a><br></center></body></html>";

// The welcome page for login number 42, and the login page.
inline const QByteArray WelcomeResponse =
    "HTTP/1.0 200 OK\r\nServer: kelpa/0.01\r\nContent-length: 131\r\nContent-type: "
    "text/html\r\n\r\n"
    "<html><head><title>welcome to kelpa</title></head><body><center>welcome to kelpa<br>"
    "<a href=\"/42/\">enter</a></center></body></html>";

inline const QByteArray LoginPageResponse =
    "HTTP/1.0 200 OK\r\nServer: kelpa/0.01\r\nContent-length: 308\r\nContent-type: "
    "text/html\r\n\r\n"
    "<html><head><title>kelpa login</title></head><body><center><form method=\"GET\" "
    "action=\"l.cgi\">kelpa<br><br>ID : <input name=\"id\" size=10 maxlength=10 type=text><br>"
    "<input type=\"submit\" value=\"login\"></form></center><div align=right><h6><a "
    "href=\"https://kelpa.example/\">about kelpa</a></h6></div></body></html>";
