#pragma once

#include <cstdint>
#include <string>

class TKeyStore;

// The account of the demonstration, on the sample POP3 server.
struct TDemoAccount
{
    std::string Name = "Sample server";
    std::string Host = "127.0.0.1";
    std::int32_t Port = 110;
    std::string UserId = "demo";
    std::string Password = "demo";
    // As TAccount::Security.
    std::int32_t Security = 0;
    std::string TrustedCertificate;
};

// Writes a store as the program itself would: the one account, included, with its password
// enciphered, and the options with interval checking on at the shortest interval and the
// action log kept, so that a first check comes as soon as the program runs.
void WriteDemoStore(TKeyStore& store, const TDemoAccount& account);
