#pragma once

class DataSaver;

// The store types of both transfer queues and of the completed-download
// records, their relations, and what the snapshot keeps of them. Needs the
// base schema ("user"), the sharing schema ("shared_file") and the search
// schema ("search_request_text") declared first.
namespace TransferSchema {
void DeclareSchema(DataSaver& saver);
}
