// Fixture of the Payload Pack tests that read the log. The 32-bit build runs
// all tests of an executable in one process and one prefix, where the log
// files keep every earlier test's lines: a test looks only at the lines
// written since it began.
#pragma once
#include <gtest/gtest.h>
#include "testutil.h"
#include <string>
#include <vector>

class PackLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_nFile = Lines("UtlFile").size();
        m_nPack = Lines("UtlPack").size();
    }
    // Lines of the "UtlFile" and "UtlPack" logs written during this test.
    std::vector<std::string> FileLog() const { return Since("UtlFile", m_nFile); }
    std::vector<std::string> PackLog() const { return Since("UtlPack", m_nPack); }

private:
    static std::vector<std::string> Lines(const std::string& strModule)
    {
        std::vector<std::string> lines = kt::LogMessages(kt::UtlLogText(strModule));
        // The file ends with a line break, which gives one empty last entry.
        if (!lines.empty() && lines.back().empty())
            lines.pop_back();
        return lines;
    }
    static std::vector<std::string> Since(const std::string& strModule, size_t nFrom)
    {
        std::vector<std::string> lines = Lines(strModule);
        return nFrom < lines.size() ? std::vector<std::string>(lines.begin() + (long)nFrom, lines.end())
                                    : std::vector<std::string>();
    }
    size_t m_nFile = 0, m_nPack = 0;
};
