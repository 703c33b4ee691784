#pragma once

#include <curl/curl.h>
#include <string>

// The socket calls the HTTP client makes itself so that it sees every connection open and
// close; one implementation per platform.
curl_socket_t OpenInternetSocket(const curl_sockaddr& address);
void CloseInternetSocket(curl_socket_t socket);
// The numeric address ("127.0.0.1", "::1"), or empty for a family without one.
std::string AddressText(const curl_sockaddr& address);
