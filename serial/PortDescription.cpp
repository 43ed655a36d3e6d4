#include "PortIdentity.h"

#include <vector>

std::string DescribePortIdentity(const TPortIdentity& identity) {
    std::vector<std::string> parts;
    std::string name = identity.Manufacturer;
    if (!identity.Product.empty())
        name += (name.empty() ? "" : " ") + identity.Product;
    if (!name.empty())
        parts.push_back(name);
    if (!identity.VendorId.empty())
        parts.push_back(identity.VendorId + ":" + (identity.ProductId.empty() ? "?" : identity.ProductId));
    if (!identity.SerialNumber.empty())
        parts.push_back("serial " + identity.SerialNumber);
    if (!identity.Driver.empty())
        parts.push_back(identity.Driver);
    std::string line;
    for (const std::string& part : parts)
        line += (line.empty() ? "" : ", ") + part;
    return line;
}

bool SameAdapter(const TPortIdentity& first, const TPortIdentity& now) {
    if (!first.SerialNumber.empty())
        return now.VendorId == first.VendorId && now.ProductId == first.ProductId &&
               now.SerialNumber == first.SerialNumber;
    return first.ById.empty() || now.ById == first.ById;
}
