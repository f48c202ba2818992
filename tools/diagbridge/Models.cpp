#include "tools/diagbridge/Models.h"

#include <cstdio>

#include "ecu/CEcu.h"
#include "tools/diagbridge/Json.h"
#include "tools/diagbridge/ResultCodes.h"

namespace diagbridge::cli {

namespace {

const ProtocolRow* ProtocolOfCode(const ObjectRegistry& registry, int32_t code) {
    for (const ProtocolRow& row : registry.protocols) {
        if (row.protocolCode == code) return &row;
    }
    return nullptr;
}

std::string Services(const ModelInfo& model) {
    std::string text;
    const std::pair<bool, const char*> services[] = {{model.singleRequest, "request"},
                                                     {model.upload, "upload"},
                                                     {model.download, "flash"},
                                                     {model.job, "job"}};
    for (const auto& [allowed, name] : services) {
        if (allowed) text += (text.empty() ? "" : ",") + std::string(name);
    }
    return text.empty() ? "-" : text;
}

}  // namespace

std::vector<ModelInfo> ListModels(const ObjectRegistry& registry) {
    std::vector<ModelInfo> models;
    for (const EcuTypeRow& row : registry.ecuTypes) {
        ModelInfo model;
        model.keyword = row.keyword;
        const ProtocolRow* protocol = ProtocolOfCode(registry, row.protocolCode);
        if (protocol != nullptr) model.protocol = protocol->keyword;
        model.built = row.create != nullptr && protocol != nullptr && protocol->create != nullptr;
        // The model alone, on no communication object, says which services it allows.
        const std::unique_ptr<CEcu> probe =
            model.built ? row.create(nullptr, row.keyword) : std::unique_ptr<CEcu>();
        if (probe) {
            model.singleRequest = probe->SingleRequestAllowed();
            model.upload = probe->UploadAllowed();
            model.download = probe->DownloadAllowed();
            model.job = probe->JobAllowed();
        }
        models.push_back(model);
    }
    return models;
}

int RunModels(bool json) {
    for (const ModelInfo& model : ListModels(DefaultObjectRegistry())) {
        if (json) {
            std::printf("%s\n", JsonObject()
                                    .Add("model", model.keyword)
                                    .Add("protocol", model.protocol)
                                    .Add("built", model.built ? 1 : 0)
                                    .Add("services", Services(model))
                                    .Text()
                                    .c_str());
        } else {
            std::printf("%-32s %-14s %s\n", model.keyword.c_str(), model.protocol.c_str(),
                        model.built ? Services(model).c_str() : "(not in this build)");
        }
    }
    return kExitOk;
}

}  // namespace diagbridge::cli
