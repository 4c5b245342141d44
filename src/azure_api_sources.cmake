# The Azure Compute REST client, its records and parsers, the snapshot
# metadata and naming rules, and the local device discovery.
target_sources(kxso_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureAPIContext.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureAPIProxy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureAPISend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureAPIFanOut.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureAPIPoll.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AzureOperationStatus.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureAPIParse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureAPIDisks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureOwnershipJob.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureAPIDiskCreations.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureDiskCreateJob.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureAPIAttach.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureAPIVMUpdate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureAPIMap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureUtilsMetadata.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureUtilsNames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureUtilsDevices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KxSnapAzureUtilsDeviceClass.cpp
)
